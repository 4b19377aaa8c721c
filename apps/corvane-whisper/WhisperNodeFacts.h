#pragma once

#include <cstdint>

namespace corvane::cli {

/// What corvane-whisper must know of the Whisper node it drives, which a host
/// otherwise sees only in the node's behaviour. Kept here once; the margins
/// below are derived from them.

/// The node counts audio in 16 kHz samples from its creation.
inline constexpr double kNodeSampleRate = 16000.0;
/// It transcribes at most its newest 30 s.
inline constexpr std::uint64_t kNodeHistorySamples = 480000;
inline constexpr double kNodeHistorySeconds = static_cast<double>(kNodeHistorySamples) / kNodeSampleRate;

/// A window handed to the node starts at least this far inside its history,
/// so that the audio arriving before the worker takes the request cannot push
/// it out.
inline constexpr std::uint64_t kRequestMarginSamples = 10000;
/// Fed faster than real time, the feed stops this far short of overwriting
/// the oldest window not yet transcribed: the request margin and a feed step
/// (0.2 s) besides.
inline constexpr std::uint64_t kFeedMarginSamples = kRequestMarginSamples + 6000;
/// A window held back for a successor goes at the latest this long after its
/// start, well before the history lets go of it.
inline constexpr std::uint64_t kLongestHoldSamples = kNodeHistorySamples - 5 * 16000;

} // namespace corvane::cli
