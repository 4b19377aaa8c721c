#pragma once

#include <array>
#include <cstdint>

namespace corvane::extensions::whisper {

/// Tells speech from background one 10 ms frame at a time, with no model: a
/// frame is speech when its power stands kMarginDb above the noise floor and
/// above kQuietestSpeechDbfs, which only digital silence and dither stay
/// under: a quiet recording's speech counts as long as it stands clear of
/// its own room. The floor follows the background
/// as the lowest frame power of the last few seconds (minimum statistics): it
/// drops at once when the room gets quieter and rises within kFloorSeconds
/// when it gets louder, and speech, whose syllables leave gaps, never holds
/// it up.
///
/// Threads: whoever owns it (the node's worker, through the endpointer).
class SpeechDetector {
public:
    static constexpr double kMarginDb = 10.0;
    static constexpr double kQuietestSpeechDbfs = -80.0;
    static constexpr std::uint32_t kFloorSeconds = 5;
    static constexpr std::uint32_t kFramesPerSecond = 100;

    /// power: the mean square of one frame. Learns from it, then says whether
    /// it is speech.
    bool classify(double power) noexcept;
    /// Whether a frame of this power is speech against the floor as it is now.
    bool isSpeech(double power) const noexcept { return power > threshold(); }
    /// The power above which a frame is speech.
    double threshold() const noexcept;

private:
    /// The lowest power of each of the last kFloorSeconds whole seconds.
    std::array<double, kFloorSeconds> secondMinimums{};
    std::uint32_t secondsKept = 0;
    std::uint32_t nextSecond = 0;
    double currentMinimum = 0.0;
    std::uint32_t framesInSecond = 0;
};

} // namespace corvane::extensions::whisper
