// What finding utterances costs the node's worker: the endpointer's analysis
// of one 10 ms block of speech-like signal at 16 kHz, the rate of the history
// it reads. The audio thread no longer runs it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "Endpointer.h"

namespace {

void hearTenMillisecondBlocks(benchmark::State& state)
{
    constexpr double rate = 16000.0;
    constexpr std::size_t blockFrames = 160;

    // Ten seconds of syllables (a tone switched on and off every 150 ms), so
    // windows open, close and get published while it runs.
    std::vector<float> signal(static_cast<std::size_t>(10 * rate));
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const bool voiced = static_cast<long>(i / (0.15 * rate)) % 4 != 3;
        signal[i] = voiced ? 0.3f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 220.0 * i / rate)) : 0.0f;
    }

    corvane::extensions::whisper::Endpointer endpointer(320000);
    std::size_t offset = 0;
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (offset + blockFrames > signal.size())
            offset = 0;
        endpointer.analyze({signal.data() + offset, blockFrames});
        while (endpointer.takeWindow())
            ;
        offset += blockFrames;
    }
    // Time per block over the block's 10 ms: 0.001 (printed "1m") is 0.1 %
    // of one core.
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    state.counters["rt_fraction"] = elapsed / (static_cast<double>(state.iterations()) * 0.010);
}

} // namespace

BENCHMARK(hearTenMillisecondBlocks);

BENCHMARK_MAIN();
