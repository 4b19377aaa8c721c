#include "TranscriptionWindow.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace corvane::extensions::whisper;

namespace {

constexpr uint32_t kCapacity = 480000; // 30 s at 16 kHz, as the node uses

// Places [start, end) by the low 32 bits of its indices and checks it against
// the same placement on full 64-bit indices, where nothing wraps.
void expectPlacement(uint64_t total, uint32_t capacity, int64_t start, int64_t end)
{
    const auto oldest = static_cast<int64_t>(total - std::min<uint64_t>(total, capacity));
    const int64_t first = std::max(start, oldest), last = std::min(end, static_cast<int64_t>(total));
    const WindowPlacement p = placeWindow(static_cast<uint32_t>(start), static_cast<uint32_t>(end),
                                          historyAt(total, capacity));
    SCOPED_TRACE(::testing::Message() << "total " << total << " window " << start << ".." << end);
    ASSERT_EQ(p.valid, last > first);
    if (!p.valid)
        return;
    ASSERT_EQ(p.firstIndex, static_cast<uint32_t>(first));
    ASSERT_EQ(p.endIndex, static_cast<uint32_t>(last));
    ASSERT_EQ(p.sampleCount, static_cast<uint64_t>(last - first));
    ASSERT_EQ(p.paddedCount, std::max(p.sampleCount, kMinimumRunSamples));
    ASSERT_EQ(p.ringPosition, static_cast<uint64_t>(first) % capacity);
    ASSERT_EQ(p.clampedStart, start < oldest);
    ASSERT_EQ(p.clampedEnd, end > static_cast<int64_t>(total));
}

} // namespace

TEST(AudioContext, GrowsWithTheWindowWithinTheModelsRange)
{
    const std::pair<uint32_t, int> cases[] = {{0, 1000}, {kMinimumRunSamples, 1000}, {279040, 1000}, {279360, 1001},
                                              {320000, 1128}, {439040, 1500}, {439360, 1500}, {UINT32_MAX, 1500}};
    for (const auto& [samples, context] : cases)
        EXPECT_EQ(audioContextFor(samples), context) << samples << " samples";
    EXPECT_EQ(kMinimumRunSamples, 17000u);
}

TEST(PlaceWindow, PlacesClampsAndRefusesWindows)
{
    constexpr int64_t T = 2'000'000, C = kCapacity, W = (int64_t{1} << 32) + 5000; // W: just past 2^32
    const int64_t cases[][3] = {
        {T, T - 320000, T}, {T, T - C, T}, {T, T - 9000, T - 7400},  // 20 s, 30 s, short
        {T, T - 600000, T - 100000}, {T, T - 1000, T + 16000}, {T, T - 900000, T + 5}, // clamped
        {1000, 0, 5000},                                              // ring not yet full
        {T, T - 100, T - 200}, {T, T - 100, T - 100}, {T, T + 10, T + 20000}, {T, T, T + 20000},
        {T, T - 900000, T - C}, {0, 0, 100},                          // nothing to transcribe
        {W, W - 8000, W - 3000}, {W, W - 605000, W + 2000},           // 2^32 is no multiple of the capacity
    };
    for (const auto& [total, start, end] : cases)
        expectPlacement(static_cast<uint64_t>(total), kCapacity, start, end);
    EXPECT_FALSE(placeWindow(0, 100, HistoryState{}).valid) << "no ring";
}
