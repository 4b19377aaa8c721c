#include "TranscriptionWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace corvane::extensions::whisper;

namespace {

constexpr uint32_t kCapacity = 480000; // 30 s at 16 kHz, as the node uses
constexpr uint64_t k2Pow32 = uint64_t { 1 } << 32;

uint32_t low32(uint64_t index)
{
    return static_cast<uint32_t>(index);
}

// A placement on full 64-bit indices, where nothing wraps.
struct Placement64 {
    bool valid;
    uint64_t first;
    uint64_t end;
    bool clampedStart;
    bool clampedEnd;
};
constexpr Placement64 kInvalid {};

Placement64 placeIn64Bits(int64_t start, int64_t end, uint64_t total, uint32_t capacity)
{
    const auto oldest = static_cast<int64_t>(total - std::min<uint64_t>(total, capacity));
    const auto newest = static_cast<int64_t>(total);
    const int64_t first = std::max(start, oldest);
    const int64_t last = std::min(end, newest);
    return { last > first, static_cast<uint64_t>(first), static_cast<uint64_t>(last), start < oldest, end > newest };
}

// Places [start, end) by the low 32 bits of its indices and checks the result
// against the expected placement on full indices.
void expectPlacement(uint64_t total, uint32_t capacity, int64_t start, int64_t end, const Placement64& expected)
{
    const WindowPlacement p = placeWindow(low32(static_cast<uint64_t>(start)), low32(static_cast<uint64_t>(end)),
        historyAt(total, capacity));
    const auto where = [&] { return ::testing::Message() << "total " << total << " window " << start << ".." << end; };
    ASSERT_EQ(p.valid, expected.valid) << where();
    if (!expected.valid)
        return;
    ASSERT_EQ(p.firstIndex, low32(expected.first)) << where();
    ASSERT_EQ(p.endIndex, low32(expected.end)) << where();
    ASSERT_EQ(p.sampleCount, expected.end - expected.first) << where();
    ASSERT_LE(p.sampleCount, capacity) << where();
    ASSERT_EQ(p.paddedCount, std::max(p.sampleCount, kMinimumRunSamples)) << where();
    ASSERT_EQ(p.ringPosition, expected.first % capacity) << where();
    ASSERT_EQ(p.clampedStart, expected.clampedStart) << where();
    ASSERT_EQ(p.clampedEnd, expected.clampedEnd) << where();
}

} // namespace

TEST(AudioContext, GrowsWithTheWindowWithinTheModelsRange)
{
    // 279040 gives 872 + 128; 439360 would give 1501.
    const std::pair<uint32_t, int> cases[] = { { 0, 1000 }, { kMinimumRunSamples, 1000 }, { 279040, 1000 },
        { 279360, 1001 }, { 320000, 1128 }, { 439040, 1500 }, { 439360, 1500 }, { 480000, 1500 },
        { UINT32_MAX, 1500 } };
    for (const auto& [samples, context] : cases)
        EXPECT_EQ(audioContextFor(samples), context) << samples << " samples";
}

TEST(PlaceWindow, PlacesClampsAndRefusesWindows)
{
    constexpr int64_t T = 2'000'000, C = kCapacity;
    constexpr int64_t W = static_cast<int64_t>(k2Pow32) + 5000; // counter just past 2^32
    const struct {
        const char* name;
        int64_t total, start, end;
        Placement64 expected;
    } cases[] = {
        { "20 s", T, T - 320000, T, { true, T - 320000, T, false, false } },
        { "30 s", T, T - C, T, { true, T - C, T, false, false } },
        { "short, padded", T, T - 9000, T - 7400, { true, T - 9000, T - 7400, false, false } },
        { "start overwritten", T, T - 600000, T - 100000, { true, T - C, T - 100000, true, false } },
        { "end in the future", T, T - 1000, T + 16000, { true, T - 1000, T, false, true } },
        { "both clamped", T, T - 900000, T + 5, { true, T - C, T, true, true } },
        { "ring not yet full", 1000, 0, 5000, { true, 0, 1000, false, true } },
        { "inverted", T, T - 100, T - 200, kInvalid },
        { "empty", T, T - 100, T - 100, kInvalid },
        { "all in the future", T, T + 10, T + 20000, kInvalid },
        { "starts at the newest", T, T, T + 20000, kInvalid },
        { "all overwritten", T, T - 900000, T - C, kInvalid },
        { "nothing written yet", 0, 0, 100, kInvalid },
        // The ring position must come from the full counter: 2^32 is not a
        // multiple of the capacity, so its low 32 bits alone give another one.
        { "across 2^32", W, W - 8000, W - 3000, { true, W - 8000, W - 3000, false, false } },
        { "across 2^32, clamped", W, W - 605000, W + 2000, { true, W - C, W, true, true } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectPlacement(static_cast<uint64_t>(c.total), kCapacity, c.start, c.end, c.expected);
    }
    EXPECT_FALSE(placeWindow(0, 100, HistoryState {}).valid) << "no ring";
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

    for (int trial = 0; trial < 200'000 && !HasFatalFailure(); ++trial) {
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
        expectPlacement(total, capacity, start, end, placeIn64Bits(start, end, total, capacity));
    }
}
