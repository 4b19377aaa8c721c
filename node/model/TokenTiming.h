#pragma once

#include <cstdint>
#include <vector>

#include <whisper.h>

namespace corvane::extensions::whisper {

/// A token of a recognised segment and when it was said, in samples of the
/// run's audio.
struct TimedToken {
    whisper_token_data data{};
    int64_t start = -1;
    int64_t end = -1;
};

/// When each token of a run was said: whisper.cpp's token-level timing (its
/// timestamp-token probabilities, then each text token moved onto the rise
/// and fall of the signal's energy around it), done here because whisper.cpp
/// 1.9.1 looks up the energy of every segment but a run's first one where
/// the segment would lie if it started the audio, which throws those times
/// off by as much as the segment's start. Then a segment's first text token
/// starts where its sound starts and its last one ends where it ends: the
/// energy around a single token cannot tell when whisper.cpp has put the
/// token in the silence before or after it, as it does at the edges of
/// segments, nor give the final punctuation any time of its own.
///
/// Threads: one owner (a run, under the node's lock); it keeps its buffers
/// from run to run.
class TokenTiming {
public:
    /// Times the tokens of the context's last run, which read `samples`.
    /// Whisper's thresholds for trusting a timestamp token: `tholdPt` for
    /// its probability among timestamps, `tholdPtSum` for all of theirs.
    void time(whisper_context* context, const float* samples, int64_t sampleCount, float tholdPt, float tholdPtSum);

    std::size_t segmentCount() const noexcept { return used; }
    /// Every token of segment i, special ones included, in order.
    const std::vector<TimedToken>& segment(std::size_t i) const { return segments[i]; }

private:
    void timeSegment(whisper_context* context, std::vector<TimedToken>& tokens, int64_t segmentStart,
                     int64_t segmentEnd, float tholdPt, float tholdPtSum);
    void followEnergy(whisper_context* context, std::vector<TimedToken>& tokens) const;
    /// Returns where the segment's speech ends; `previousEnd` is where the
    /// previous segment's ends.
    int64_t fitEdges(whisper_context* context, std::vector<TimedToken>& tokens, int64_t segmentStart,
                     int64_t segmentEnd, int64_t previousEnd) const;
    /// The mean magnitude of the samples [from, to), clamped to the audio.
    double meanMagnitude(int64_t from, int64_t to) const;
    int64_t sampleCount() const noexcept { return static_cast<int64_t>(magnitudeSums.size()) - 1; }

    /// Sums of the samples' magnitudes up to each index.
    std::vector<double> magnitudeSums;
    std::vector<float> voiceLengths;
    std::vector<std::vector<TimedToken>> segments;
    std::size_t used = 0;
    // Carried from segment to segment within a run, as whisper.cpp does.
    int64_t timestampBase = 0;
    int64_t lastEnd = 0;
    whisper_token lastTimestamp = 0;
};

} // namespace corvane::extensions::whisper
