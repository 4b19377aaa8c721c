// The node on real speech with the real tiny.en model: processing time and
// word error rate for the first 2, 5 and 11 s of jfk.wav, with flash
// attention off and on, with voice-activity detection off and on, beside
// whisper.cpp's own whisper_full with its defaults (audio_ctx 0, flash
// attention on) on the same samples as the reference.
//
//   corvane_bench_real_model [ROUNDS]     (default 5)
//
// Needs ../shared/models/ggml-tiny.en.bin, ../shared/models/silero-v6.0.0-
// ggml.bin and ../shared/audio/jfk.wav; says so and exits 0 without them.
//
// On a machine shared with other work, wall times swing widely. The rounds
// therefore interleave the configurations (each round runs every cut in every
// configuration once) and the table gives the minimum over the rounds, of
// wall time and, separately, of the process's CPU time. Node times are its
// own "processingTime"; CPU time covers every thread of the process from the
// request to the event. A plain program rather than Google Benchmark, which
// runs each case to the end before the next and so cannot interleave them.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sndfile.h>

#include "BenchSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvane::CVAnyMap;
using corvane::extensions::whisper::WhisperContextDeleter;
using corvane::extensions::whisper::WhisperSTTNode;

constexpr int kRate = 16000;
const char* const kKnownText = "And so my fellow Americans, ask not what your country can do for you, ask what you "
                               "can do for your country.";

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> result;
    std::string word;
    for (unsigned char c : text + " ") {
        if (std::isalnum(c) || c == '\'') {
            word += static_cast<char>(std::tolower(c));
        } else if (!word.empty()) {
            result.push_back(word);
            word.clear();
        }
    }
    return result;
}

std::size_t editDistance(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

/// Word error rate against the known text as far as a cut reaches: the
/// prefix of the known words that the hypothesis matches best (a cut may end
/// inside a word, so its exact extent is not known in advance).
double wordErrorRate(const std::string& hypothesis)
{
    const std::vector<std::string> known = words(kKnownText);
    const std::vector<std::string> heard = words(hypothesis);
    double best = 1.0;
    for (std::size_t length = 1; length <= known.size(); ++length) {
        const std::vector<std::string> prefix(known.begin(), known.begin() + static_cast<std::ptrdiff_t>(length));
        best = std::min(best, static_cast<double>(editDistance(heard, prefix)) / static_cast<double>(length));
    }
    return best;
}

std::vector<float> readMono16k(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr || info.samplerate != kRate || info.channels != 1)
        throw std::runtime_error(path + " is not a 16 kHz mono sound file");
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

struct Measurement {
    double wallMs = std::numeric_limits<double>::infinity();
    double cpuMs = std::numeric_limits<double>::infinity();
    std::string text;

    void keep(double wall, double cpu, std::string transcript)
    {
        wallMs = std::min(wallMs, wall);
        cpuMs = std::min(cpuMs, cpu);
        text = std::move(transcript);
    }
};

/// One way of transcribing a cut: a node in some configuration, or the
/// reference whisper_full.
class Configuration {
public:
    virtual ~Configuration() = default;
    virtual std::string name() const = 0;
    /// Wall ms, CPU ms and text of one run over the first sampleCount samples.
    virtual void run(uint32_t sampleCount, Measurement& into) = 0;
};

class NodeConfiguration : public Configuration {
public:
    NodeConfiguration(const std::string& model, const std::string& silero, bool flash, bool vad,
                      const std::vector<float>& audio)
        : flash(flash), vad(vad)
    {
        node = std::make_unique<WhisperSTTNode>(
            CVAnyMap{{"initializeModel", false}, {"flashAttention", flash}, {"vad", vad}});
        corvane::test::useVadModel(*node, silero);
        if (!node->callAction("loadModel", {{"modelPath", model}}).isOk())
            throw std::runtime_error("the node could not load " + model);
        if (vad && !node->modelSlot().beginRun().detectsVoiceActivity())
            throw std::runtime_error("the node could not load " + silero);
        events = std::make_unique<corvane::test::EventRecorder>(*node);
        corvane::test::feed(*node, audio, kRate, 160);
    }
    ~NodeConfiguration() override
    {
        events.reset();
        node.reset();
    }

    std::string name() const override
    {
        return std::string("node, flash ") + (flash ? "on" : "off") + (vad ? ", VAD" : "");
    }

    void run(uint32_t sampleCount, Measurement& into) override
    {
        const double cpuBefore = corvane::bench::processCpuSeconds();
        if (!node->callAction("transcribe", {{"start", 0}, {"end", static_cast<long long>(sampleCount)}}).isOk())
            throw std::runtime_error("\"transcribe\" was refused");
        if (!events->waitFor("transcribed", ++requests, std::chrono::minutes(5)))
            throw std::runtime_error("no \"transcribed\" event within 5 minutes");
        const double cpuMs = (corvane::bench::processCpuSeconds() - cpuBefore) * 1e3;
        const CVAnyMap data = events->named("transcribed").back().data.asMap();
        into.keep(static_cast<double>(data.at("processingTime").asInteger()), cpuMs, data.at("text").asString());
    }

private:
    bool flash;
    bool vad;
    std::unique_ptr<WhisperSTTNode> node;
    std::unique_ptr<corvane::test::EventRecorder> events;
    std::size_t requests = 0;
};

/// whisper.cpp as its own examples call it: default context and recognition
/// parameters (flash attention on, audio_ctx 0, min(4, cores) threads), on
/// the CPU like the node here.
class ReferenceConfiguration : public Configuration {
public:
    ReferenceConfiguration(const std::string& model, const std::vector<float>& audio) : audio(audio)
    {
        whisper_context_params contextParams = whisper_context_default_params();
        contextParams.use_gpu = false;
        context.reset(whisper_init_from_file_with_params(model.c_str(), contextParams));
        if (!context)
            throw std::runtime_error("whisper.cpp could not load " + model);
        params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
        params.print_progress = false;
        params.print_timestamps = false;
    }

    std::string name() const override { return "whisper_full, defaults"; }

    void run(uint32_t sampleCount, Measurement& into) override
    {
        const double cpuBefore = corvane::bench::processCpuSeconds();
        const Clock::time_point started = Clock::now();
        if (whisper_full(context.get(), params, audio.data(), static_cast<int>(sampleCount)) != 0)
            throw std::runtime_error("whisper_full failed");
        const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        const double cpuMs = (corvane::bench::processCpuSeconds() - cpuBefore) * 1e3;
        std::string text;
        for (int segment = 0; segment < whisper_full_n_segments(context.get()); ++segment)
            text += whisper_full_get_segment_text(context.get(), segment);
        into.keep(wallMs, cpuMs, text);
    }

    int threads() const { return params.n_threads; }

private:
    const std::vector<float>& audio;
    std::unique_ptr<whisper_context, WhisperContextDeleter> context;
    whisper_full_params params{};
};

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string model = corvane::test::realTinyModel();
    const std::string silero = corvane::test::sharedFile("models/silero-v6.0.0-ggml.bin");
    const std::string jfk = corvane::test::sharedFile("audio/jfk.wav");
    if (model.empty() || silero.empty() || jfk.empty()) {
        std::printf("corvane_bench_real_model: skipped; needs ../shared/models/ggml-tiny.en.bin, "
                    "../shared/models/silero-v6.0.0-ggml.bin and ../shared/audio/jfk.wav\n");
        return 0;
    }
    corvane::bench::quietLogs();

    try {
        const std::vector<float> audio = readMono16k(jfk);
        auto reference = std::make_unique<ReferenceConfiguration>(model, audio);
        const int threads = reference->threads();
        std::vector<std::unique_ptr<Configuration>> configurations;
        configurations.push_back(std::move(reference));
        for (const auto& [flash, vad] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}})
            configurations.push_back(std::make_unique<NodeConfiguration>(model, silero, flash, vad, audio));

        const std::vector<int> cuts{2, 5, 11};
        std::vector<std::vector<Measurement>> results(cuts.size(), std::vector<Measurement>(configurations.size()));
        auto samplesOf = [&](int seconds) {
            const auto wanted = static_cast<std::size_t>(seconds) * kRate;
            return static_cast<uint32_t>(std::min(audio.size(), wanted));
        };

        // A first run settles each context's buffers; it is not counted.
        Measurement discarded;
        for (auto& configuration : configurations)
            configuration->run(samplesOf(2), discarded);
        for (int round = 0; round < rounds; ++round)
            for (std::size_t cut = 0; cut < cuts.size(); ++cut)
                for (std::size_t c = 0; c < configurations.size(); ++c)
                    configurations[c]->run(samplesOf(cuts[cut]), results[cut][c]);

        std::printf("jfk.wav, tiny.en, %d whisper.cpp threads, %u hardware threads; minimum of %d interleaved "
                    "rounds\n",
                    threads, std::thread::hardware_concurrency(), rounds);
        std::printf("| cut | configuration | wall ms | CPU ms | x reference (wall) | WER | text |\n");
        std::printf("|---|---|---|---|---|---|---|\n");
        for (std::size_t cut = 0; cut < cuts.size(); ++cut) {
            const double referenceWall = results[cut][0].wallMs;
            for (std::size_t c = 0; c < configurations.size(); ++c) {
                const Measurement& m = results[cut][c];
                std::printf("| %d s | %s | %.0f | %.0f | %.2f | %.2f | %s |\n", cuts[cut],
                            configurations[c]->name().c_str(), m.wallMs, m.cpuMs, m.wallMs / referenceWall,
                            wordErrorRate(m.text), m.text.c_str());
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvane_bench_real_model: %s\n", error.what());
        return 1;
    }
    return 0;
}
