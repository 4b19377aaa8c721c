#include <corvane/audio/AudioGraphResampler.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

using namespace corvane;

namespace {

std::vector<float> sine(double frequency, double rate, std::size_t frames)
{
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * i / rate));
    return samples;
}

// Fed in pseudo-random blocks, each rate gives 16 kHz in deliveries of at most
// 512 frames: the right length, a 1 kHz tone still at 1 kHz with its level,
// each channel on its own, and output frame n standing for input time n / 16000
// (the filter's run-in must not shift it). 16 kHz passes through untouched.
TEST(AudioGraphResampler, DeliversEveryHostRateAt16Kilohertz)
{
    for (const double rate : {8000.0, 16000.0, 22050.0, 44100.0, 48000.0, 96000.0}) {
        SCOPED_TRACE(rate);
        AudioGraphResampler resampler(16000.0, 512);
        std::vector<std::vector<float>> out(2);
        std::uint32_t largest = 0;
        resampler.setNumberOfBuses(1, 0);
        resampler.setProcessCallback([&](AudioBusList& input, AudioBusList&) {
            const AudioBuffer<float>& buffer = input.getBus(0).getBuffer();
            EXPECT_EQ(buffer.getSampleRate(), 16000.0);
            largest = std::max(largest, buffer.getNumberOfFrames());
            for (std::uint32_t c = 0; c < 2; ++c)
                out[c].insert(out[c].end(), buffer.getReadPointer(c), buffer.getReadPointer(c) + buffer.getNumberOfFrames());
            return true;
        });
        std::vector<std::vector<float>> in{sine(440.0, rate, std::size_t(rate)), sine(1000.0, rate, std::size_t(rate))};
        for (std::size_t done = 0, seed = 12345; done < in[0].size();) {
            seed = (seed * 1664525u + 1013904223u) & 0xFFFFFFFFu;
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(1 + (seed >> 8) % 4096, in[0].size() - done));
            float* pointers[2] = {in[0].data() + done, in[1].data() + done};
            AudioBusArray<1> bus;
            AudioBusArray<0> none;
            bus.getBus(0).setBuffer(AudioBuffer<float>(pointers, 2, n, rate));
            ASSERT_TRUE(resampler.process(bus, none));
            done += n;
        }
        EXPECT_LE(out[0].size(), 16002u);
        EXPECT_GE(out[0].size() + resampler.getLatencyFrames() + 2, 16000u);
        EXPECT_LE(largest, 512u);
        const auto expected = sine(440.0, 16000.0, out[0].size()), other = sine(1000.0, 16000.0, out[1].size());
        for (std::size_t i = 200; i < expected.size(); ++i) {
            ASSERT_NEAR(out[0][i], expected[i], 0.01f) << "frame " << i;
            ASSERT_NEAR(out[1][i], other[i], 0.02f) << "frame " << i;
        }
        if (rate == 16000.0) {
            EXPECT_EQ(out[0], in[0]);
        }
    }
}

} // namespace
