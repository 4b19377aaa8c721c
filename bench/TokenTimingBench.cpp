// What word timings cost a run: after whisper_full, the node times every
// token (always: segment edges follow them) and, with "wordTimestamps",
// gathers the tokens into words. Real tiny.en on the 11 s jfk sample from
// ../shared; without them it says so and measures nothing.
//
// BM_WhisperFull is the run itself, for scale; BM_TokenTiming and
// BM_ReadSegments/words:0|1 are what the node adds to it.
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <whisper.h>

#include "BenchSupport.h"
#include "RecognisedSegments.h"
#include "TokenTiming.h"

namespace {

using namespace corvane::extensions::whisper;

struct Recognised {
    whisper_context* context = nullptr;
    whisper_full_params params{};
    std::vector<float> speech;
};

std::vector<float> readSpeech(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr || info.channels != 1 || info.samplerate != WHISPER_SAMPLE_RATE)
        return {};
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

/// The model, the speech and one run over it, made once.
Recognised* recognised()
{
    static Recognised* made = [] {
        auto* state = new Recognised;
        const std::string model = corvane::test::realTinyModel(), jfk = corvane::test::sharedFile("audio/jfk.wav");
        state->speech = jfk.empty() ? std::vector<float>{} : readSpeech(jfk);
        if (model.empty() || state->speech.empty())
            return state;
        whisper_context_params contextParams = whisper_context_default_params();
        contextParams.use_gpu = false;
        contextParams.flash_attn = true;
        state->context = whisper_init_from_file_with_params(model.c_str(), contextParams);
        state->params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
        state->params.n_threads = 2;
        state->params.print_progress = false;
        whisper_full(state->context, state->params, state->speech.data(), static_cast<int>(state->speech.size()));
        return state;
    }();
    return made;
}

bool ready(benchmark::State& state)
{
    if (recognised()->context != nullptr)
        return true;
    state.SkipWithError("needs ../shared/models/ggml-tiny.en.bin and ../shared/audio/jfk.wav");
    return false;
}

void BM_WhisperFull(benchmark::State& state)
{
    if (!ready(state))
        return;
    Recognised& run = *recognised();
    for (auto _ : state)
        whisper_full(run.context, run.params, run.speech.data(), static_cast<int>(run.speech.size()));
}

void BM_TokenTiming(benchmark::State& state)
{
    if (!ready(state))
        return;
    Recognised& run = *recognised();
    TokenTiming timing;
    for (auto _ : state)
        timing.time(run.context, run.speech.data(), static_cast<int64_t>(run.speech.size()), run.params.thold_pt,
                    run.params.thold_ptsum);
    state.counters["segments"] = static_cast<double>(timing.segmentCount());
}

void BM_ReadSegments(benchmark::State& state)
{
    if (!ready(state))
        return;
    Recognised& run = *recognised();
    TokenTiming timing;
    timing.time(run.context, run.speech.data(), static_cast<int64_t>(run.speech.size()), run.params.thold_pt,
                run.params.thold_ptsum);
    SpeechTimeline timeline;
    timeline.setWhole(static_cast<int64_t>(run.speech.size()));
    std::vector<TranscribedSegment> segments;
    for (auto _ : state) {
        readSegments(run.context, timing, timeline, state.range(0) != 0, segments);
        benchmark::DoNotOptimize(segments.data());
    }
}

std::string cpuModel()
{
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

} // namespace

BENCHMARK(BM_WhisperFull)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TokenTiming)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadSegments)->ArgName("words")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    corvane::bench::quietLogs();
    benchmark::AddCustomContext("cpu", cpuModel());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
