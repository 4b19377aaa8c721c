// Cost of converting host audio to 16 kHz on the audio thread, per input
// frame, for the 10 ms blocks hosts typically deliver.
#include <corvane/audio/AudioGraphResampler.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

void convertTenMillisecondBlocks(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0));
    const auto blockFrames = static_cast<std::uint32_t>(rate / 100.0);

    corvane::AudioGraphResampler resampler(16000.0, 512);
    resampler.setNumberOfBuses(1, 0);
    float sink = 0.0f;
    resampler.setProcessCallback([&sink](corvane::AudioBusList& input, corvane::AudioBusList&) {
        const auto& buffer = input.getBus(0).getBuffer();
        sink += buffer.getReadPointer(0)[buffer.getNumberOfFrames() - 1];
        return true;
    });

    // A second of speech-band signal, walked through block by block so the
    // filter sees changing data rather than one block repeated.
    std::vector<float> signal(static_cast<std::size_t>(rate));
    for (std::size_t i = 0; i < signal.size(); ++i)
        signal[i] = 0.3f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * i / rate)
                                              + 0.5 * std::sin(2.0 * std::numbers::pi * 3100.0 * i / rate));

    corvane::AudioBusArray<1> in;
    corvane::AudioBusArray<0> out;
    std::size_t offset = 0;
    for (auto _ : state) {
        if (offset + blockFrames > signal.size())
            offset = 0;
        in.getBus(0).setBuffer(corvane::AudioBuffer<float>(signal.data() + offset, blockFrames, rate));
        benchmark::DoNotOptimize(resampler.process(in, out));
        offset += blockFrames;
    }
    benchmark::DoNotOptimize(sink);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * blockFrames);
    state.counters["ns_per_input_frame"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * blockFrames,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(convertTenMillisecondBlocks)->Arg(44100)->Arg(48000)->Arg(96000);

BENCHMARK_MAIN();
