#pragma once

#include <cstdint>

namespace corvane::extensions::whisper {

/// whisper.cpp refuses runs shorter than about one second; shorter windows are
/// padded with silence up to this many samples (16 kHz).
inline constexpr uint32_t kMinimumRunSamples = 17000;

/// The encoder context for a run of sampleCount samples: one context frame per
/// 320 samples plus headroom, kept within [1000, 1500] (1500 is whisper.cpp's
/// full 30 s context).
int audioContextFor(uint32_t sampleCount);
/// The same without the floor of 1000 (at least 64): what the audio itself
/// needs. Faster on short audio, but whisper.cpp is less accurate below the
/// floor, so only for text that a later run replaces.
int smallAudioContextFor(uint32_t sampleCount);

/// The absolute index nearest to `total` whose low 32 bits are `lowBits`:
/// requests carry indices as 32-bit patterns, which wrap every 2^32 samples
/// (about 74 hours at 16 kHz).
uint64_t absoluteIndexNear(uint64_t total, uint32_t lowBits);

/// One consistent snapshot of the history, taken from a single read of the
/// ring's 64-bit counter so that its fields agree with each other.
struct HistoryState {
    uint32_t totalLow32 = 0; ///< Low 32 bits of the number of samples ever written.
    uint32_t count = 0;      ///< Retained samples: min(total, capacity).
    uint32_t capacity = 0;
};

/// Snapshot of a ring of `capacity` samples after `totalSamples` writes.
HistoryState historyAt(uint64_t totalSamples, uint32_t capacity);

/// Where a run reads the window it was asked for.
struct WindowPlacement {
    bool valid = false;         ///< False when nothing of the window is in the history.
    uint32_t sampleCount = 0;   ///< Samples the history holds for the window.
    uint32_t paddedCount = 0;   ///< Samples the run reads: max(sampleCount, kMinimumRunSamples).
    bool clampedStart = false;  ///< The start was older than the oldest retained sample.
    bool clampedEnd = false;    ///< The end lay past the newest sample.
    uint32_t firstIndex = 0;    ///< The window after clamping, low 32 bits of absolute indices.
    uint32_t endIndex = 0;
};

/// Places the request window [start, end) (low 32 bits of absolute sample
/// indices) in the history. Indices are compared by their signed 32-bit
/// distance from the newest sample, so the result is the same whether or not
/// the 64-bit counter has passed a multiple of 2^32. An end past the newest
/// sample is cut back to it, a start older than the oldest retained sample is
/// moved up to it, and a window that is empty after that is not valid.
///
/// A run copies the window's sampleCount samples and pads the copy with
/// silence up to paddedCount, so the ring is never read past the window.
WindowPlacement placeWindow(uint32_t start, uint32_t end, const HistoryState& history);

} // namespace corvane::extensions::whisper
