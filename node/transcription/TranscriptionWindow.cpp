#include "TranscriptionWindow.h"

#include <algorithm>

namespace corvane::extensions::whisper {

namespace {

/// Signed distance of index from the newest-sample boundary T: negative for
/// samples already written, positive for samples still to come.
int64_t offsetFrom(uint32_t totalLow32, uint32_t index)
{
    return static_cast<int32_t>(index - totalLow32);
}

} // namespace

int audioContextFor(uint32_t sampleCount)
{
    const uint32_t context = sampleCount / 320 + 128;
    return static_cast<int>(std::clamp<uint32_t>(context, 1000, 1500));
}

uint64_t absoluteIndexNear(uint64_t total, uint32_t lowBits)
{
    const int64_t offset = static_cast<int32_t>(lowBits - static_cast<uint32_t>(total));
    if (offset < 0 && static_cast<uint64_t>(-offset) > total)
        return 0;
    return total + static_cast<uint64_t>(offset);
}

int smallAudioContextFor(uint32_t sampleCount)
{
    const uint32_t context = sampleCount / 320 + 128;
    return static_cast<int>(std::clamp<uint32_t>(context, 64, 1500));
}

HistoryState historyAt(uint64_t totalSamples, uint32_t capacity)
{
    HistoryState history;
    history.totalLow32 = static_cast<uint32_t>(totalSamples);
    history.capacity = capacity;
    history.count = static_cast<uint32_t>(std::min<uint64_t>(totalSamples, capacity));
    return history;
}

WindowPlacement placeWindow(uint32_t start, uint32_t end, const HistoryState& history)
{
    WindowPlacement placement;
    if (history.capacity == 0)
        return placement;

    // The retained history spans offsets [-count, 0) relative to T.
    const int64_t oldest = -static_cast<int64_t>(std::min(history.count, history.capacity));
    int64_t first = offsetFrom(history.totalLow32, start);
    int64_t last = offsetFrom(history.totalLow32, end);

    if (last > 0) {
        last = 0;
        placement.clampedEnd = true;
    }
    if (first < oldest) {
        first = oldest;
        placement.clampedStart = true;
    }
    if (last <= first)
        return placement;

    const auto distanceBack = static_cast<uint64_t>(-first); // 1 .. capacity
    placement.valid = true;
    placement.sampleCount = static_cast<uint32_t>(last - first);
    placement.paddedCount = std::max(placement.sampleCount, kMinimumRunSamples);
    placement.firstIndex = history.totalLow32 - static_cast<uint32_t>(distanceBack);
    placement.endIndex = history.totalLow32 - static_cast<uint32_t>(-last);
    return placement;
}

} // namespace corvane::extensions::whisper
