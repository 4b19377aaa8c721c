#include "SampleRingBuffer.h"
#include "TranscriptionWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace corvane::extensions::whisper;

namespace {

constexpr uint32_t kCapacity = 480000; // 30 s at 16 kHz, as the node uses
constexpr uint64_t k2Pow32 = uint64_t { 1 } << 32;

uint32_t low32(uint64_t index)
{
    return static_cast<uint32_t>(index);
}

// The same placement worked out on full 64-bit indices, where nothing wraps.
struct Expected {
    bool valid;
    uint64_t first;
    uint64_t end;
    bool clampedStart;
    bool clampedEnd;
};

Expected placeIn64Bits(int64_t start, int64_t end, uint64_t total, uint32_t capacity)
{
    const auto oldest = static_cast<int64_t>(total - std::min<uint64_t>(total, capacity));
    const auto newest = static_cast<int64_t>(total);
    Expected e {};
    e.clampedStart = start < oldest;
    e.clampedEnd = end > newest;
    const int64_t first = std::max(start, oldest);
    const int64_t last = std::min(end, newest);
    e.valid = last > first;
    e.first = static_cast<uint64_t>(first);
    e.end = static_cast<uint64_t>(last);
    return e;
}

} // namespace

TEST(AudioContext, GrowsWithTheWindowWithinTheModelsRange)
{
    EXPECT_EQ(audioContextFor(0), 1000);
    EXPECT_EQ(audioContextFor(kMinimumRunSamples), 1000);
    EXPECT_EQ(audioContextFor(279040), 1000); // 872 + 128
    EXPECT_EQ(audioContextFor(279360), 1001);
    EXPECT_EQ(audioContextFor(320000), 1128); // 20 s
    EXPECT_EQ(audioContextFor(439040), 1500);
    EXPECT_EQ(audioContextFor(439360), 1500); // would be 1501
    EXPECT_EQ(audioContextFor(480000), 1500); // 30 s
    EXPECT_EQ(audioContextFor(UINT32_MAX), 1500);
}

TEST(HistoryState, TakesEveryFieldFromOneCounter)
{
    const HistoryState early = historyAt(1000, kCapacity);
    EXPECT_EQ(early.totalLow32, 1000u);
    EXPECT_EQ(early.count, 1000u);
    EXPECT_EQ(early.writeIndex, 1000u);

    // The ring position comes from the full counter: 2^32 is not a multiple of
    // the capacity, so the low 32 bits alone would give the wrong position.
    const HistoryState wrapped = historyAt(k2Pow32 + 5000, kCapacity);
    EXPECT_EQ(wrapped.totalLow32, 5000u);
    EXPECT_EQ(wrapped.count, kCapacity);
    EXPECT_EQ(wrapped.writeIndex, (k2Pow32 + 5000) % kCapacity);
    EXPECT_NE(wrapped.writeIndex, 5000u % kCapacity);
}

TEST(PlaceWindow, WindowInsideTheHistoryIsReadAsAsked)
{
    const uint64_t total = 1'000'000;
    const HistoryState history = historyAt(total, kCapacity);

    const WindowPlacement twenty = placeWindow(low32(total - 320000), low32(total), history);
    ASSERT_TRUE(twenty.valid);
    EXPECT_EQ(twenty.sampleCount, 320000u);
    EXPECT_EQ(twenty.paddedCount, 320000u);
    EXPECT_EQ(twenty.ringPosition, (total - 320000) % kCapacity);
    EXPECT_EQ(twenty.firstIndex, low32(total - 320000));
    EXPECT_EQ(twenty.endIndex, low32(total));
    EXPECT_FALSE(twenty.clampedStart);
    EXPECT_FALSE(twenty.clampedEnd);

    const WindowPlacement thirty = placeWindow(low32(total - kCapacity), low32(total), history);
    ASSERT_TRUE(thirty.valid);
    EXPECT_EQ(thirty.sampleCount, kCapacity);
    EXPECT_EQ(thirty.ringPosition, history.writeIndex); // the oldest sample is the next overwritten
    EXPECT_FALSE(thirty.clampedStart);
}

TEST(PlaceWindow, ShortWindowIsPaddedToTheMinimumRun)
{
    const uint64_t total = 700'000;
    const WindowPlacement p = placeWindow(low32(total - 9000), low32(total - 7400), historyAt(total, kCapacity));
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(p.sampleCount, 1600u);
    EXPECT_EQ(p.paddedCount, kMinimumRunSamples);
    EXPECT_EQ(p.ringPosition, (total - 9000) % kCapacity);
}

TEST(PlaceWindow, ClampsToWhatTheHistoryHolds)
{
    const uint64_t total = 2'000'000;
    const HistoryState history = historyAt(total, kCapacity);

    const WindowPlacement tooOld = placeWindow(low32(total - 600000), low32(total - 100000), history);
    ASSERT_TRUE(tooOld.valid);
    EXPECT_TRUE(tooOld.clampedStart);
    EXPECT_FALSE(tooOld.clampedEnd);
    EXPECT_EQ(tooOld.firstIndex, low32(total - kCapacity));
    EXPECT_EQ(tooOld.sampleCount, kCapacity - 100000);
    EXPECT_EQ(tooOld.ringPosition, history.writeIndex);

    const WindowPlacement future = placeWindow(low32(total - 1000), low32(total + 16000), history);
    ASSERT_TRUE(future.valid);
    EXPECT_TRUE(future.clampedEnd);
    EXPECT_FALSE(future.clampedStart);
    EXPECT_EQ(future.endIndex, low32(total));
    EXPECT_EQ(future.sampleCount, 1000u);
    EXPECT_EQ(future.paddedCount, kMinimumRunSamples);

    const WindowPlacement both = placeWindow(low32(total - 900000), low32(total + 5), history);
    ASSERT_TRUE(both.valid);
    EXPECT_TRUE(both.clampedStart && both.clampedEnd);
    EXPECT_EQ(both.sampleCount, kCapacity);

    // Before the ring has filled, the history starts at index 0.
    const WindowPlacement young = placeWindow(0, 5000, historyAt(1000, kCapacity));
    ASSERT_TRUE(young.valid);
    EXPECT_TRUE(young.clampedEnd);
    EXPECT_FALSE(young.clampedStart);
    EXPECT_EQ(young.sampleCount, 1000u);
    EXPECT_EQ(young.ringPosition, 0u);
}

TEST(PlaceWindow, RefusesWindowsWithNothingInTheHistory)
{
    const uint64_t total = 2'000'000;
    const HistoryState history = historyAt(total, kCapacity);
    EXPECT_FALSE(placeWindow(low32(total - 100), low32(total - 200), history).valid) << "inverted";
    EXPECT_FALSE(placeWindow(low32(total - 100), low32(total - 100), history).valid) << "empty";
    EXPECT_FALSE(placeWindow(low32(total + 10), low32(total + 20000), history).valid) << "all in the future";
    EXPECT_FALSE(placeWindow(low32(total), low32(total + 20000), history).valid) << "starts at the newest";
    EXPECT_FALSE(placeWindow(low32(total - 900000), low32(total - kCapacity), history).valid) << "all overwritten";
    EXPECT_FALSE(placeWindow(0, 100, historyAt(0, kCapacity)).valid) << "nothing written yet";
    EXPECT_FALSE(placeWindow(0, 100, HistoryState {}).valid) << "no ring";
}

TEST(PlaceWindow, WindowAcrossTheWrapOfTheLow32Bits)
{
    const uint64_t total = k2Pow32 + 5000;
    const HistoryState history = historyAt(total, kCapacity);

    const WindowPlacement p = placeWindow(low32(k2Pow32 - 3000), low32(k2Pow32 + 2000), history);
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(p.sampleCount, 5000u);
    EXPECT_EQ(p.firstIndex, low32(k2Pow32 - 3000));
    EXPECT_EQ(p.endIndex, 2000u);
    EXPECT_EQ(p.ringPosition, (k2Pow32 - 3000) % kCapacity);
    EXPECT_FALSE(p.clampedStart || p.clampedEnd);

    const WindowPlacement clipped = placeWindow(low32(k2Pow32 - 600000), low32(k2Pow32 + 7000), history);
    ASSERT_TRUE(clipped.valid);
    EXPECT_TRUE(clipped.clampedStart && clipped.clampedEnd);
    EXPECT_EQ(clipped.firstIndex, low32(total - kCapacity));
    EXPECT_EQ(clipped.endIndex, 5000u);
    EXPECT_EQ(clipped.sampleCount, kCapacity);
    EXPECT_EQ(clipped.ringPosition, history.writeIndex);
}

// Counters anywhere in 64 bits, many of them just before or after a multiple
// of 2^32, and windows within ±2^30 of the newest sample: the 32-bit placement
// must agree with the same placement on full indices.
TEST(PlaceWindow, AgreesWithFull64BitArithmetic)
{
    std::mt19937_64 random(2024);
    std::uniform_int_distribution<uint32_t> capacities(1, 1'000'000);
    std::uniform_int_distribution<int64_t> nearWrap(-2'000'000, 2'000'000);
    std::uniform_int_distribution<int64_t> offsets(-(int64_t { 1 } << 30), int64_t { 1 } << 30);
    std::uniform_int_distribution<int64_t> smallOffsets(-1'200'000, 100'000);

    for (int trial = 0; trial < 200'000; ++trial) {
        const uint32_t capacity = trial % 3 == 0 ? kCapacity : capacities(random);
        uint64_t total = 0;
        switch (trial % 4) {
        case 0: total = random() >> 1; break;
        case 1: total = (random() % 64 + 1) * k2Pow32 + nearWrap(random); break;
        case 2: total = random() % 3'000'000; break;
        default: total = k2Pow32 + nearWrap(random); break;
        }
        const auto t = static_cast<int64_t>(total);
        auto& spread = trial % 2 == 0 ? smallOffsets : offsets;
        const int64_t start = t + spread(random);
        const int64_t end = trial % 5 == 0 ? start + spread(random) % 40000 : t + spread(random);

        const Expected expected = placeIn64Bits(start, end, total, capacity);
        const WindowPlacement p = placeWindow(low32(static_cast<uint64_t>(start)), low32(static_cast<uint64_t>(end)),
            historyAt(total, capacity));

        ASSERT_EQ(p.valid, expected.valid) << "total " << total << " window " << start << ".." << end;
        if (!expected.valid)
            continue;
        ASSERT_EQ(p.firstIndex, low32(expected.first));
        ASSERT_EQ(p.endIndex, low32(expected.end));
        ASSERT_EQ(p.sampleCount, expected.end - expected.first);
        ASSERT_LE(p.sampleCount, capacity);
        ASSERT_EQ(p.paddedCount, std::max(p.sampleCount, kMinimumRunSamples));
        ASSERT_EQ(p.ringPosition, expected.first % capacity);
        ASSERT_EQ(p.clampedStart, expected.clampedStart);
        ASSERT_EQ(p.clampedEnd, expected.clampedEnd);
    }
}

// A placement read from a real ring returns exactly the window's samples.
TEST(PlaceWindow, ReadsTheWindowsSamplesFromTheRing)
{
    constexpr uint32_t capacity = 48000;
    SampleRingBuffer ring(capacity);
    std::vector<float> block(7919);
    uint64_t written = 0;
    for (int delivery = 0; delivery < 40; ++delivery) {
        for (auto& s : block)
            s = static_cast<float>(written++ % (1u << 24));
        ring.write(block.data(), static_cast<uint32_t>(block.size()));
    }

    const uint64_t total = ring.totalSamples();
    for (const uint64_t back : { uint64_t { 100 }, uint64_t { 20000 }, uint64_t { capacity }, uint64_t { 90000 } }) {
        const WindowPlacement p = placeWindow(low32(total - back), low32(total + 10), historyAt(total, capacity));
        ASSERT_TRUE(p.valid);
        const uint64_t first = total - std::min<uint64_t>(back, capacity);
        const float* run = ring.window(p.ringPosition);
        for (uint32_t k = 0; k < p.sampleCount; ++k)
            ASSERT_EQ(run[k], static_cast<float>((first + k) % (1u << 24))) << "window " << back << " sample " << k;
    }
}
