// Where a transcription run's time goes, for 2 s, 5 s and 30 s windows on the
// weight-less tiny.en and base.en models (they cost what the real ones do):
//   node            the node's own "processingTime" for the window, from its
//                   "transcribed" event (lock, copy, whisper_full, clean-up);
//   direct_node_ctx whisper_full on the same samples with the node's
//                   parameters and the encoder context the node picks;
//   direct_full_ctx the same call with audio_ctx 0, i.e. whisper.cpp's full
//                   1500-frame context.
// node / direct_node_ctx is the node's overhead; direct_node_ctx /
// direct_full_ctx is what trimming the context saves. Each case also reports
// the process's CPU time per run ("cpu_s"), steadier than wall time on a
// shared machine, and the tokens decoded (none on the weight-less models). Every run uses the node's default
// thread count (min(hardware threads, 4)), reported as "threads".
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "TranscriptionWindow.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvane::CVAnyMap;
using corvane::extensions::whisper::WhisperContextDeleter;
using corvane::extensions::whisper::WhisperSTTNode;

constexpr double kRate = 16000.0;
/// Each timed case runs this often; a 30 s window on base.en takes seconds.
constexpr int kRuns = 2;

enum class Variant { DirectFullContext, DirectNodeContext, Node };

const char* variantName(Variant variant)
{
    switch (variant) {
    case Variant::DirectFullContext: return "direct_full_ctx";
    case Variant::DirectNodeContext: return "direct_node_ctx";
    case Variant::Node: return "node";
    }
    return "?";
}

/// Tokens of the last run: decoding time grows with them. The weight-less
/// models decode next to nothing, so on them a run costs its encoder pass; a
/// real model on speech adds a decoder step per token.
int tokensDecoded(whisper_context* context)
{
    int tokens = 0;
    const int segments = whisper_full_n_segments(context);
    for (int segment = 0; segment < segments; ++segment)
        tokens += whisper_full_n_tokens(context, segment);
    return tokens;
}

struct RunCost {
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0;
    int tokens = 0;
};

/// A node holding 30 s of audio and, beside it, a context loaded from the same
/// model file with the same context parameters, for the direct calls.
struct Rig {
    std::string modelName;
    std::unique_ptr<WhisperSTTNode> node;
    std::unique_ptr<corvane::test::EventRecorder> events;
    std::unique_ptr<whisper_context, WhisperContextDeleter> direct;
    std::size_t requests = 0;

    /// The node's parameters, read under its lock so no run is writing them.
    whisper_full_params nodeParams() { return node->modelSlot().beginRun().parameters(); }

    /// The newest sampleCount samples of the node's history: exactly what a
    /// request for the newest window makes the node transcribe.
    std::vector<float> newestSamples(uint32_t sampleCount)
    {
        auto& intake = node->audioIntake();
        const uint64_t total = intake.totalSamples();
        const float* first = intake.ring().window(intake.ring().ringPositionOf(total - sampleCount));
        return std::vector<float>(first, first + sampleCount);
    }

    /// One node run over the newest sampleCount samples, timed by the node's
    /// own "processingTime".
    RunCost runNode(uint32_t sampleCount)
    {
        const uint64_t total = node->audioIntake().totalSamples();
        const CVAnyMap window{{"start", static_cast<long long>(total - sampleCount)},
                              {"end", static_cast<long long>(total)}};
        const double cpuBefore = corvane::bench::processCpuSeconds();
        const auto result = node->callAction("transcribe", window);
        if (!result.isOk())
            throw std::runtime_error(result.getError().getMessage());
        ++requests;
        if (!events->waitFor("transcribed", requests, std::chrono::minutes(5)))
            throw std::runtime_error("no \"transcribed\" event within 5 minutes");
        RunCost cost;
        cost.cpuSeconds = corvane::bench::processCpuSeconds() - cpuBefore;
        const auto transcribed = events->named("transcribed");
        cost.wallSeconds =
            static_cast<double>(transcribed.back().data.asMap().at("processingTime").asInteger()) / 1000.0;
        cost.tokens = tokensDecoded(node->modelSlot().beginRun().context());
        return cost;
    }

    /// One whisper_full call with the node's parameters and audioContext.
    RunCost runDirect(const std::vector<float>& samples, int audioContext)
    {
        whisper_full_params params = nodeParams();
        params.audio_ctx = audioContext;
        const double cpuBefore = corvane::bench::processCpuSeconds();
        const Clock::time_point started = Clock::now();
        if (whisper_full(direct.get(), params, samples.data(), static_cast<int>(samples.size())) != 0)
            throw std::runtime_error("whisper_full failed");
        RunCost cost;
        cost.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        cost.cpuSeconds = corvane::bench::processCpuSeconds() - cpuBefore;
        cost.tokens = tokensDecoded(direct.get());
        return cost;
    }
};

/// Only one rig is alive at a time, so at most two copies of one model are
/// in memory.
std::unique_ptr<Rig>& currentRig()
{
    static std::unique_ptr<Rig> rig;
    return rig;
}

/// The rig for a model, built on first use.
Rig& rigFor(const std::string& modelName, const std::string& path)
{
    std::unique_ptr<Rig>& rig = currentRig();
    if (rig && rig->modelName == modelName)
        return *rig;
    rig.reset();

    auto next = std::make_unique<Rig>();
    next->modelName = modelName;
    next->node = std::make_unique<WhisperSTTNode>(CVAnyMap{{"modelPath", path}, {"useGPU", false}});
    next->events = std::make_unique<corvane::test::EventRecorder>(*next->node);
    if (!next->node->modelSlot().isReady())
        throw std::runtime_error("the node could not load " + path);

    whisper_context_params contextParams = whisper_context_default_params();
    contextParams.use_gpu = false;
    contextParams.flash_attn = next->node->modelSlot().options().flashAttention;
    next->direct.reset(whisper_init_from_file_with_params(path.c_str(), contextParams));
    if (!next->direct)
        throw std::runtime_error("whisper.cpp could not load " + path);

    // In the 10 ms blocks a 16 kHz host would deliver; the newest 2 s, 5 s or
    // 30 s are the windows timed below. One second more than the longest
    // window, so that it is whole whatever the converter still holds back.
    corvane::test::feed(*next->node, corvane::bench::speechLike(kRate, 31.0), kRate, 160);

    // First runs on a fresh context settle its buffers; keep them untimed.
    next->runNode(static_cast<uint32_t>(2 * kRate));
    next->runDirect(next->newestSamples(static_cast<uint32_t>(2 * kRate)), 0);

    rig = std::move(next);
    return *rig;
}

/// Mean cost per run of every case, for the summary.
std::map<std::string, RunCost>& meanCosts()
{
    static std::map<std::string, RunCost> means;
    return means;
}

std::string caseKey(const std::string& model, int seconds, Variant variant)
{
    return model + "/" + std::to_string(seconds) + "s/" + variantName(variant);
}

const RunCost* findCost(const std::string& model, int seconds, Variant variant)
{
    const auto& means = meanCosts();
    const auto it = means.find(caseKey(model, seconds, variant));
    return it == means.end() ? nullptr : &it->second;
}

void timeRun(benchmark::State& state, const std::string& model, const std::string& path, int seconds,
             Variant variant)
{
    try {
        Rig& rig = rigFor(model, path);
        const auto sampleCount = static_cast<uint32_t>(seconds * kRate);
        const int nodeContext = corvane::extensions::whisper::audioContextFor(sampleCount);
        const std::vector<float> samples = rig.newestSamples(sampleCount);

        RunCost total;
        for (auto _ : state) {
            RunCost cost;
            switch (variant) {
            case Variant::Node: cost = rig.runNode(sampleCount); break;
            case Variant::DirectNodeContext: cost = rig.runDirect(samples, nodeContext); break;
            case Variant::DirectFullContext: cost = rig.runDirect(samples, 0); break;
            }
            state.SetIterationTime(cost.wallSeconds);
            total.wallSeconds += cost.wallSeconds;
            total.cpuSeconds += cost.cpuSeconds;
            total.tokens += cost.tokens;
        }

        const auto runs = static_cast<double>(state.iterations());
        const RunCost mean{total.wallSeconds / runs, total.cpuSeconds / runs,
                           static_cast<int>(total.tokens / state.iterations())};
        meanCosts()[caseKey(model, seconds, variant)] = mean;
        state.counters["audio_ctx"] = variant == Variant::DirectFullContext ? 1500 : nodeContext;
        state.counters["threads"] = rig.nodeParams().n_threads;
        state.counters["tokens"] = mean.tokens;
        state.counters["cpu_s"] = mean.cpuSeconds;
        state.counters["rt_factor"] = mean.wallSeconds / seconds;

        // The case registered just before this one ran on the same samples.
        if (variant == Variant::Node) {
            if (const RunCost* direct = findCost(model, seconds, Variant::DirectNodeContext))
                state.counters["x_direct"] = mean.wallSeconds / direct->wallSeconds;
        } else if (variant == Variant::DirectNodeContext) {
            if (const RunCost* full = findCost(model, seconds, Variant::DirectFullContext))
                state.counters["x_full_ctx"] = mean.wallSeconds / full->wallSeconds;
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
}

double ratio(const RunCost* a, const RunCost* b, double RunCost::*field)
{
    return a && b && b->*field > 0.0 ? a->*field / b->*field : 0.0;
}

void printSummary(const std::vector<std::string>& models, const std::vector<int>& windows)
{
    std::printf("\nTranscription summary: mean of %d runs per case, %d threads; wall ms (process CPU ms)\n", kRuns,
                corvane::extensions::whisper::DecodingSettings::defaultThreadCount());
    std::printf("%-8s %6s %17s %17s %17s %13s %13s\n", "model", "window", "node", "direct", "direct full ctx",
                "node/direct", "trimmed/full");
    std::printf("%-8s %6s %17s %17s %17s %13s %13s\n", "", "", "", "", "", "wall (cpu)", "wall (cpu)");
    auto cell = [](const RunCost* cost) {
        char text[32] = "-";
        if (cost)
            std::snprintf(text, sizeof text, "%.0f (%.0f)", cost->wallSeconds * 1e3, cost->cpuSeconds * 1e3);
        return std::string(text);
    };
    for (const std::string& model : models) {
        for (int seconds : windows) {
            const RunCost* node = findCost(model, seconds, Variant::Node);
            const RunCost* direct = findCost(model, seconds, Variant::DirectNodeContext);
            const RunCost* full = findCost(model, seconds, Variant::DirectFullContext);
            if (!node && !direct && !full)
                continue;
            char overhead[32];
            char trimming[32];
            std::snprintf(overhead, sizeof overhead, "%.2f (%.2f)", ratio(node, direct, &RunCost::wallSeconds),
                          ratio(node, direct, &RunCost::cpuSeconds));
            std::snprintf(trimming, sizeof trimming, "%.2f (%.2f)", ratio(direct, full, &RunCost::wallSeconds),
                          ratio(direct, full, &RunCost::cpuSeconds));
            std::printf("%-8s %5ds %17s %17s %17s %13s %13s\n", model.c_str(), seconds, cell(node).c_str(),
                        cell(direct).c_str(), cell(full).c_str(), overhead, trimming);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    corvane::bench::quietLogs();

    const std::vector<std::pair<std::string, std::string>> models{
        {"tiny.en", corvane::test::weightlessTinyModel()},
        {"base.en", corvane::test::weightlessBaseModel()},
    };
    const std::vector<int> windows{2, 5, 30};

    for (const auto& [model, path] : models)
        for (int seconds : windows)
            for (Variant variant : {Variant::DirectFullContext, Variant::DirectNodeContext, Variant::Node}) {
                const std::string name = "Transcription/" + caseKey(model, seconds, variant);
                benchmark::RegisterBenchmark(name.c_str(),
                                             [model, path, seconds, variant](benchmark::State& state) {
                                                 timeRun(state, model, path, seconds, variant);
                                             })
                    ->Iterations(kRuns)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Joined and freed here, while everything the node logs to still exists.
    currentRig().reset();

    std::vector<std::string> names;
    for (const auto& entry : models)
        names.push_back(entry.first);
    printSummary(names, windows);
    return 0;
}
