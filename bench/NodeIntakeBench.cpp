// What WhisperSTTNode::consume costs the host's audio thread for one 10 ms
// block, against the block's own duration.
#include <benchmark/benchmark.h>

#include <chrono>

#include "BenchSupport.h"

namespace {

using corvane::extensions::whisper::WhisperSTTNode;

void consumeTenMillisecondBlock(benchmark::State& state)
{
    corvane::bench::quietLogs();
    const double rate = static_cast<double>(state.range(0));
    const auto blockFrames = static_cast<std::uint32_t>(rate / 100.0);

    // No model: intake does not depend on one, and loading one only slows the
    // set-up down.
    WhisperSTTNode node(corvane::CVAnyMap{{"initializeModel", false}});
    std::vector<float> signal = corvane::bench::speechLike(rate, 1.0);

    // The first block sets up the converter and starts the worker; a full
    // second also takes the filter past its start-up.
    corvane::test::feed(node, signal, rate, blockFrames);

    corvane::AudioBus bus;
    std::size_t offset = 0;
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (offset + blockFrames > signal.size())
            offset = 0;
        bus.setBuffer(corvane::AudioBuffer<float>(signal.data() + offset, blockFrames, rate));
        benchmark::DoNotOptimize(node.consume(bus));
        offset += blockFrames;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * blockFrames);
    // Wall time per block over the block's 10 ms: 0.001 (printed "1m") means
    // the node takes 0.1 % of the audio thread's time.
    state.counters["rt_fraction"] = elapsed / (static_cast<double>(state.iterations()) * 0.010);
}

} // namespace

BENCHMARK(consumeTenMillisecondBlock)->ArgName("rate")->Arg(44100)->Arg(48000);

BENCHMARK_MAIN();
