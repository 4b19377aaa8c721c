#include <corvane/audio/AudioGraphResampler.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "AllocationCounter.h"

using corvane::AudioBuffer;
using corvane::AudioBusArray;
using corvane::AudioBusList;
using corvane::AudioGraphResampler;

namespace {

constexpr double kOutputRate = 16000.0;
constexpr std::uint32_t kMaxDelivery = 512;

std::vector<float> sine(double frequency, double rate, std::size_t frames, float amplitude = 0.5f)
{
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * i / rate));
    return samples;
}

// The same "random" block sizes on every run, so a failure reproduces.
std::vector<std::uint32_t> blockSizes(std::size_t count, std::uint32_t largest)
{
    std::vector<std::uint32_t> sizes(count);
    std::uint32_t state = 12345;
    for (auto& size : sizes) {
        state = state * 1664525u + 1013904223u;
        size = 1 + (state >> 8) % largest;
    }
    return sizes;
}

// Frequency from the interpolated positions of the first and last rising zero
// crossing, which is exact for a clean sine and indifferent to amplitude.
double measureFrequency(const std::vector<float>& s, double rate)
{
    std::vector<double> at;
    for (std::size_t i = 1; i < s.size(); ++i)
        if (s[i - 1] < 0.0f && s[i] >= 0.0f)
            at.push_back(double(i - 1) + s[i - 1] / (s[i - 1] - s[i]));
    return at.size() < 2 ? 0.0 : double(at.size() - 1) * rate / (at.back() - at.front());
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

// Drives a resampler the way a node does and records what the callback saw.
struct Harness {
    AudioGraphResampler resampler{kOutputRate, kMaxDelivery};
    std::vector<std::vector<float>> received;
    bool record = true; // keeping the samples allocates
    std::uint64_t framesSeen = 0;
    std::uint32_t smallest = UINT32_MAX, largest = 0;
    bool insideProcess = false;
    bool badDelivery = false; // outside process(), or not at the output rate
    bool callbackResult = true;

    Harness()
    {
        resampler.setNumberOfBuses(1, 0);
        resampler.setProcessCallback([this](AudioBusList& input, AudioBusList&) {
            const AudioBuffer<float>& buffer = input.getBus(0).getBuffer();
            badDelivery = badDelivery || !insideProcess || buffer.getSampleRate() != kOutputRate;
            framesSeen += buffer.getNumberOfFrames();
            smallest = std::min(smallest, buffer.getNumberOfFrames());
            largest = std::max(largest, buffer.getNumberOfFrames());
            if (record) {
                received.resize(buffer.getNumberOfChannels());
                for (std::uint32_t c = 0; c < buffer.getNumberOfChannels(); ++c)
                    received[c].insert(received[c].end(), buffer.getReadPointer(c),
                                       buffer.getReadPointer(c) + buffer.getNumberOfFrames());
            }
            return callbackResult;
        });
    }

    bool feed(const AudioBuffer<float>& buffer)
    {
        AudioBusArray<1> in;
        AudioBusArray<0> out;
        in.getBus(0).setBuffer(buffer);
        insideProcess = true;
        const bool ok = resampler.process(in, out);
        insideProcess = false;
        return ok;
    }

    // Feeds planar channels in the given block sizes (cycled); true when every
    // process() call returned true.
    bool feed(std::vector<std::vector<float>>& channels, double rate, const std::vector<std::uint32_t>& sizes)
    {
        const std::size_t frames = channels[0].size();
        bool ok = true;
        for (std::size_t done = 0, i = 0; done < frames; ++i) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(sizes[i % sizes.size()], frames - done));
            float* pointers[AudioBuffer<float>::kMaxChannels]{};
            for (std::size_t c = 0; c < channels.size(); ++c)
                pointers[c] = channels[c].data() + done;
            ok = feed(AudioBuffer<float>(pointers, std::uint32_t(channels.size()), n, rate)) && ok;
            done += n;
        }
        return ok;
    }

    const std::vector<float>& mono() { return received.at(0); }
};

class ResamplerAtRate : public ::testing::TestWithParam<double> {};

TEST_P(ResamplerAtRate, OneSecondOfSineKeepsFrequencyAmplitudeTimingAndLength)
{
    const double rate = GetParam();
    Harness h;
    std::vector<std::vector<float>> input{sine(1000.0, rate, std::size_t(rate)), sine(440.0, rate, std::size_t(rate))};
    auto sizes = blockSizes(64, 4096);
    sizes.insert(sizes.begin(), {1, 7});
    ASSERT_TRUE(h.feed(input, rate, sizes));

    const auto& out = h.mono();
    const std::uint32_t latency = h.resampler.getLatencyFrames();
    EXPECT_EQ(latency == 0, rate == kOutputRate);
    EXPECT_LE(out.size(), 16000u + 2);
    EXPECT_GE(out.size() + latency + 2, 16000u);
    EXPECT_NEAR(measureFrequency(out, kOutputRate), 1000.0, 2.0);
    EXPECT_NEAR(rms(out, 100, out.size() - 100), 0.5 / std::sqrt(2.0), 0.5 / std::sqrt(2.0) * 0.03);
    EXPECT_DOUBLE_EQ(h.resampler.getInputSampleRate(), rate);

    // Channels are converted independently, and output frame n stands for
    // input time n / 16000: the node timestamps words by output frame index,
    // so the run-in silence of the filter must not shift it.
    ASSERT_EQ(h.received.size(), 2u);
    ASSERT_EQ(h.received[1].size(), out.size());
    const auto expected = sine(440.0, kOutputRate, out.size());
    float worst = 0.0f;
    for (std::size_t i = 200; i < expected.size(); ++i)
        worst = std::max(worst, std::abs(expected[i] - h.received[1][i]));
    EXPECT_LT(worst, 0.01f);
    if (rate == kOutputRate) { // passed through untouched
        EXPECT_EQ(h.received[0], input[0]);
        EXPECT_EQ(h.received[1], input[1]);
    }

    EXPECT_LE(h.largest, kMaxDelivery);
    EXPECT_GT(h.smallest, 0u);
    EXPECT_EQ(h.framesSeen, out.size());
    EXPECT_EQ(h.resampler.getTotalFramesDelivered(), out.size());
    EXPECT_FALSE(h.badDelivery);

    if (rate > kOutputRate) {
        // A decimator without a low-pass would fold this tone below 8 kHz at
        // full level.
        const double frequency = std::min(12000.0, rate / 2 - 1000.0);
        Harness high;
        std::vector<std::vector<float>> tone{sine(frequency, rate, std::size_t(rate))};
        ASSERT_TRUE(high.feed(tone, rate, {441}));
        EXPECT_LT(rms(high.mono(), 200, high.mono().size()), 0.5 / std::sqrt(2.0) * 0.01) << frequency << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(HostRates, ResamplerAtRate, ::testing::Values(8000.0, 16000.0, 22050.0, 44100.0, 48000.0, 96000.0));

TEST(AudioGraphResampler, FollowsRateChangesMidStream)
{
    Harness h;
    double expectedFrames = 0.0;
    std::uint32_t latencies = 0;
    for (double rate : {48000.0, 22050.0, 8000.0, 96000.0}) {
        std::vector<std::vector<float>> input{sine(1000.0, rate, std::size_t(rate / 2))};
        const std::size_t before = h.received.empty() ? 0 : h.mono().size();
        ASSERT_TRUE(h.feed(input, rate, blockSizes(16, 2048)));
        EXPECT_DOUBLE_EQ(h.resampler.getInputSampleRate(), rate);
        latencies += h.resampler.getLatencyFrames();
        expectedFrames += 8000.0;

        std::vector<float> segment(h.mono().begin() + before, h.mono().end());
        EXPECT_NEAR(measureFrequency(segment, kOutputRate), 1000.0, 3.0) << "after switching to " << rate;
    }
    const double produced = double(h.mono().size());
    EXPECT_LE(produced, expectedFrames + 8);
    EXPECT_GE(produced + latencies + 8, expectedFrames);
    EXPECT_FALSE(h.badDelivery);
}

TEST(AudioGraphResampler, RefusedDeliveryFailsTheCallButTheBlockIsStillConverted)
{
    Harness accepting, refusing;
    refusing.callbackResult = false;
    std::vector<std::vector<float>> input{sine(1000.0, 48000.0, 4800)};
    EXPECT_TRUE(accepting.feed(input, 48000.0, {4800}));
    EXPECT_FALSE(refusing.feed(input, 48000.0, {4800}));
    EXPECT_EQ(refusing.mono(), accepting.mono());
}

TEST(AudioGraphResampler, UnusableInputIsRefusedWithoutDelivering)
{
    Harness h;
    std::vector<float> samples(480, 0.25f);
    for (double rate : {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(h.feed(AudioBuffer<float>(samples.data(), 480, rate))) << rate;
    EXPECT_FALSE(h.feed(AudioBuffer<float>()));
    float* none[1] = {samples.data()};
    EXPECT_FALSE(h.feed(AudioBuffer<float>(none, 0, 480, 48000.0)));
    AudioBusArray<0> noBuses, out;
    bool result = true;
    EXPECT_NO_THROW(result = h.resampler.process(noBuses, out));
    EXPECT_FALSE(result);

    EXPECT_TRUE(h.feed(AudioBuffer<float>(samples.data(), 0, 48000.0)));
    EXPECT_EQ(h.framesSeen, 0u);
    EXPECT_EQ(h.resampler.getTotalFramesDelivered(), 0u);

    // A bad block in the middle of a stream does not break what follows.
    EXPECT_TRUE(h.feed(AudioBuffer<float>(samples.data(), 480, 48000.0)));
    EXPECT_GT(h.framesSeen, 0u);
}

TEST(AudioGraphResamplerRealTime, SteadyStateAllocatesNothingAndTakesNoLock)
{
    Harness h;
    h.record = false;
    std::vector<float> left = sine(1000.0, 44100.0, 8192), right = sine(700.0, 44100.0, 8192);
    float* channels[2] = {left.data(), right.data()};
    const auto sizes = blockSizes(257, 8192);
    ASSERT_TRUE(h.feed(AudioBuffer<float>(channels, 2, 441, 44100.0))); // sets the converter up: may allocate

    corvane::test::AllocationCounter counter;
    counter.start();
    bool ok = true;
    for (int i = 0; i < 500; ++i)
        ok = h.feed(AudioBuffer<float>(channels, 2, sizes[i % sizes.size()], 44100.0)) && ok;
    counter.stop();
    EXPECT_TRUE(ok);
    EXPECT_GT(h.framesSeen, 0u);
    EXPECT_EQ(counter.count(), 0u);
    EXPECT_EQ(counter.lockCount(), 0u);

    // The zero above means something only if the counter sees a set-up.
    counter.start();
    ASSERT_TRUE(h.feed(AudioBuffer<float>(channels, 1, 480, 48000.0)));
    counter.stop();
    EXPECT_GT(counter.count(), 0u);
}

} // namespace
