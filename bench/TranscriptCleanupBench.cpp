// Cost of cleaning whisper.cpp's text after each run: a typical transcript,
// and a long one to show that the cost stays linear.
#include <benchmark/benchmark.h>

#include <string>

#include "TranscriptCleanup.h"

namespace {

// About 200 bytes, as whisper.cpp writes them: a leading space, segment joins
// with doubled spaces, an annotation and a music note.
const std::string kTypicalTranscript =
    " So the plan for today is simple.  We start with the new intake path [Music] and then"
    " look at how the worker  copies its window (laughs) before it hands it to the model. \u266A"
    " Any questions so far?  ";

void cleanTypicalTranscript(benchmark::State& state)
{
    std::string text;
    for (int i = 0; i < state.range(0); ++i)
        text += kTypicalTranscript;

    for (auto _ : state) {
        std::string cleaned = corvane::extensions::whisper::cleanTranscription(text);
        benchmark::DoNotOptimize(cleaned.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["input_bytes"] = static_cast<double>(text.size());
}

} // namespace

// 1 copy: one typical run's text; 100 copies: about 20 kB.
BENCHMARK(cleanTypicalTranscript)->ArgName("copies")->Arg(1)->Arg(100);

BENCHMARK_MAIN();
