// The node on the CPU and on the GPU side by side: the device each runs on
// and its processing time per window of 2, 5 and 10 s, the same audio and
// threads for both, with the two texts.
//
//   corvane_bench_devices [ROUNDS]     (default 3)
//
//   CORVANE_BENCH_MODEL    model file (default: ../shared/models/ggml-tiny.en.bin,
//                          else the weight-less tiny.en, which times the encoder)
//   CORVANE_BENCH_THREADS  whisper.cpp threads (default 2)
//   GGML_VK_VISIBLE_DEVICES=0   makes lavapipe, Mesa's software Vulkan device,
//                          the GPU where there is none (slow: minutes a window)
//
// Audio: jfk.wav from ../shared when there, else a speech-like signal. The
// rounds interleave the two nodes, and the table gives each one's minimum of
// its own "processingTime", so that load from other work falls on both alike.
// Needs a GPU build (scripts/setup --gpu vulkan); in a CPU build, or with no
// usable device, the "GPU" node says it runs on the CPU and the table shows it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <ggml-backend.h>

#include "BenchSupport.h"
#include "MachineInfo.h"

namespace {

using corvane::CVAnyMap;
using corvane::extensions::whisper::WhisperSTTNode;

constexpr double kRate = 16000.0;

struct Side {
    std::unique_ptr<WhisperSTTNode> node;
    std::unique_ptr<corvane::test::EventRecorder> events;
    std::string device; ///< where the node said it runs
    std::vector<double> bestMs;
    std::vector<std::string> texts;
    std::size_t requests = 0;

    Side(const std::string& model, bool gpu, int threads, const std::vector<float>& audio, std::size_t cuts)
        : bestMs(cuts, std::numeric_limits<double>::infinity()), texts(cuts)
    {
        // The one line of the load that names the device, caught before the
        // logs go quiet again.
        corvane::Logger::setLevel(corvane::LogLevel::Info);
        corvane::Logger::setSink([this](corvane::LogLevel, const std::string& line) {
            if (line.rfind("[WhisperSTTNode] Running on ", 0) == 0 || line.rfind("[WhisperSTTNode] GPU ", 0) == 0)
                device = line.substr(line.find(']') + 2);
        });
        node = std::make_unique<WhisperSTTNode>(
            CVAnyMap{{"modelPath", model}, {"useGPU", gpu}, {"numberOfThreads", threads}});
        corvane::Logger::setSink(nullptr);
        corvane::Logger::setLevel(corvane::LogLevel::Error);
        if (!node->modelSlot().isReady())
            throw std::runtime_error("the node could not load " + model);
        events = std::make_unique<corvane::test::EventRecorder>(*node);
        corvane::test::feed(*node, audio, kRate, 160);
    }

    void run(std::size_t cut, uint32_t samples)
    {
        if (!node->callAction("transcribe", {{"start", 0}, {"end", static_cast<long long>(samples)}}).isOk())
            throw std::runtime_error("transcribe was refused");
        if (!events->waitFor("transcribed", ++requests, std::chrono::minutes(30)))
            throw std::runtime_error("no \"transcribed\" event within 30 minutes");
        const CVAnyMap& data = events->named("transcribed").back().data.asMap();
        bestMs[cut] = std::min(bestMs[cut], static_cast<double>(data.at("processingTime").asInteger()));
        texts[cut] = data.at("text").asString();
    }
};

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const char* threadCount = std::getenv("CORVANE_BENCH_THREADS");
    const int threads = threadCount != nullptr ? std::max(1, std::atoi(threadCount)) : 2;
    std::string model = corvane::test::realTinyModel();
    if (const char* chosen = std::getenv("CORVANE_BENCH_MODEL"))
        model = chosen;
    if (model.empty())
        model = corvane::test::weightlessTinyModel();
    const std::string jfk = corvane::test::sharedFile("audio/jfk.wav");

    corvane::bench::quietLogs();
    try {
        std::vector<float> audio = jfk.empty() ? corvane::bench::speechLike(kRate, 11.0) : corvane::test::readMono16k(jfk);
        const std::vector<int> cuts{2, 5, 10};
        audio.resize(static_cast<std::size_t>(cuts.back() * kRate) + 1600);
        Side cpu(model, false, threads, audio, cuts.size());
        Side gpu(model, true, threads, audio, cuts.size());
        // First runs on a fresh context settle its buffers (and compile a
        // GPU's pipelines); keep them untimed.
        for (Side* side : {&cpu, &gpu})
            side->run(0, static_cast<uint32_t>(cuts[0] * kRate));
        for (Side* side : {&cpu, &gpu})
            side->bestMs[0] = std::numeric_limits<double>::infinity();
        for (int round = 0; round < rounds; ++round)
            for (std::size_t cut = 0; cut < cuts.size(); ++cut)
                for (Side* side : {&cpu, &gpu})
                    side->run(cut, static_cast<uint32_t>(cuts[cut] * kRate));

        corvane::bench::printMachine();
        for (std::size_t i = 0; i < ggml_backend_dev_count(); ++i) {
            ggml_backend_dev_t device = ggml_backend_dev_get(i);
            std::printf("ggml device %zu: %s (%s)\n", i, ggml_backend_dev_name(device),
                        ggml_backend_dev_description(device));
        }
        std::printf("model: %s; audio: %s; %d whisper.cpp threads; minimum of %d interleaved rounds\n", model.c_str(),
                    jfk.empty() ? "speech-like signal" : jfk.c_str(), threads, rounds);
        std::printf("\"useGPU\": false -> %s\n\"useGPU\": true  -> %s\n", cpu.device.c_str(), gpu.device.c_str());
        std::printf("| window | CPU ms | GPU ms | GPU / CPU | same text | GPU text |\n|---|---|---|---|---|---|\n");
        for (std::size_t cut = 0; cut < cuts.size(); ++cut)
            std::printf("| %d s | %.0f | %.0f | %.2f | %s | %s |\n", cuts[cut], cpu.bestMs[cut], gpu.bestMs[cut],
                        gpu.bestMs[cut] / cpu.bestMs[cut], cpu.texts[cut] == gpu.texts[cut] ? "yes" : "NO",
                        gpu.texts[cut].c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvane_bench_devices: %s\n", error.what());
        return 1;
    }
    return 0;
}
