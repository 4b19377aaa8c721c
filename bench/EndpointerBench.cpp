// What the endpointer costs the audio thread: one 10 ms block of speech-like
// signal through its converter and its analysis, at the usual host rates.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <corvane/audio/AudioBuffer.h>

#include "Endpointer.h"

namespace {

void hearTenMillisecondBlocks(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0));
    const auto blockFrames = static_cast<std::uint32_t>(rate / 100.0);

    // Ten seconds of syllables (a tone switched on and off every 150 ms), so
    // windows open, close and get published while it runs.
    std::vector<float> signal(static_cast<std::size_t>(10 * rate));
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const bool voiced = static_cast<long>(i / (0.15 * rate)) % 4 != 3;
        signal[i] = voiced ? 0.3f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 220.0 * i / rate)) : 0.0f;
    }

    corvane::cli::Endpointer endpointer;
    corvane::AudioBusArray<1> in;
    std::size_t offset = 0;
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (offset + blockFrames > signal.size())
            offset = 0;
        in.getBus(0).setBuffer(corvane::AudioBuffer<float>(signal.data() + offset, blockFrames, rate));
        endpointer.consume(in);
        while (endpointer.takeWindow())
            ;
        offset += blockFrames;
    }
    // Time per block over the block's 10 ms, as corvane_bench_node_intake
    // reports it: 0.001 (printed "1m") is 0.1 % of the audio thread's time.
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    state.counters["rt_fraction"] = elapsed / (static_cast<double>(state.iterations()) * 0.010);
}

} // namespace

BENCHMARK(hearTenMillisecondBlocks)->Arg(16000)->Arg(44100)->Arg(48000);

BENCHMARK_MAIN();
