#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

#include "SpeechDetector.h"

namespace corvane::extensions::whisper {

/// A stretch of audio to transcribe, in absolute 16 kHz sample indices.
struct SpeechWindow {
    uint64_t start = 0;
    uint64_t end = 0; ///< One past the last sample.

    uint64_t length() const noexcept { return end - start; }
    bool operator==(const SpeechWindow&) const = default;
};

/// Decides where utterances begin and end in a stream of 16 kHz audio, so
/// that each window handed to whisper.cpp holds whole words:
/// - a window ends once speech has paused for the pause length, cut in the
///   middle of that pause; the next one starts kLeadInSamples before speech
///   resumes, or where the previous one ended if that is later;
/// - a window that reaches the maximum length without such a pause is cut at
///   the quietest 20 ms of its last kCutSearchSamples (of its later half, for
///   a maximum under 6 s), and the rest goes on as the next window;
/// - audio without speech opens no window at all.
///
/// Threads: one owner (the node's worker). No allocation after construction
/// but for the finished windows it keeps until they are taken.
class Endpointer {
public:
    static constexpr double kSampleRate = 16000.0;
    static constexpr uint64_t kDefaultPauseSamples = 4800;  ///< 300 ms below the speech threshold.
    static constexpr uint64_t kCutSearchSamples = 48000;    ///< The last 3 s of a window too long.
    /// Audio kept before the first frame heard as speech, never reaching back
    /// into the previous window: soft onsets ("th", "f", "h") lie below the
    /// threshold, and whisper.cpp clips a word it hears starting abruptly.
    static constexpr uint64_t kLeadInSamples = 4800;
    /// Speech shorter than this (a click, a knock) opens no window.
    static constexpr uint32_t kShortestSpeechFrames = 5;

    /// The first sample analysed has the absolute index firstIndex.
    Endpointer(uint64_t maxWindowSamples, uint64_t pauseSamples = kDefaultPauseSamples, uint64_t firstIndex = 0);

    Endpointer(const Endpointer&) = delete;
    Endpointer& operator=(const Endpointer&) = delete;

    /// Samples that follow the ones seen so far.
    void analyze(std::span<const float> samples) noexcept;
    /// The stream ends (or pauses for good): the utterance under way becomes a
    /// window that ends at most at endAtMost.
    void finish(uint64_t endAtMost = UINT64_MAX) noexcept;
    /// Forgets the utterance under way and the windows not taken, and goes on
    /// from `index` (at or after the samples seen so far); the background it
    /// has learnt stays.
    void restartAt(uint64_t index) noexcept;

    /// The oldest finished window not taken yet.
    std::optional<SpeechWindow> takeWindow();
    /// The absolute index of the next sample to analyse.
    uint64_t getSamplesSeen() const noexcept { return position; }
    /// Where the utterance under way starts, if one is.
    std::optional<uint64_t> openWindowStart() const noexcept;
    /// The utterance under way so far, from its start to the newest sample
    /// seen, once it holds enough speech to be more than a click.
    std::optional<SpeechWindow> openUtterance() const noexcept;
    uint64_t getMaxWindowSamples() const noexcept { return maxWindowSamples; }

private:
    /// One analysed frame, kept for looking back.
    struct Frame {
        uint64_t start = 0;
        uint64_t end = 0;
        float power = 0.0f;
        bool speech = false;
    };
    /// 5.12 s of frames: the cut search and the look back at an onset.
    static constexpr std::size_t kFrameHistory = 512;

    void endFrame() noexcept;
    void onSpeech(const Frame& frame) noexcept;
    void onQuiet(const Frame& frame) noexcept;
    /// The floor has just dropped: frames heard as background may have been
    /// speech after all; if so, the window opens where they began.
    void reopenUnheardSpeech() noexcept;
    /// Where speech that has just been heard really began: earlier frames that
    /// the floor learnt since then shows to be speech, up to the last pause.
    uint64_t onsetBefore(const Frame& frame) const noexcept;
    /// Where a window whose speech begins at onset starts.
    uint64_t startBefore(uint64_t onset) const noexcept;
    /// The middle of the quietest 20 ms near the end of the open window.
    uint64_t quietestCutPoint() const noexcept;
    void close(uint64_t end) noexcept;
    void publish(const SpeechWindow& window) noexcept;
    const Frame& frameBack(std::size_t back) const noexcept;

    const uint64_t maxWindowSamples;
    const uint64_t pauseSamples;

    SpeechDetector detector;
    std::array<Frame, kFrameHistory> frames{};
    std::size_t framesStored = 0;
    double frameSumOfSquares = 0.0;
    uint32_t frameFill = 0;
    uint64_t frameStart = 0;
    uint64_t position = 0;
    bool open = false;
    uint64_t windowStart = 0;
    uint64_t lastSpeechEnd = 0;
    uint32_t speechFrames = 0;
    /// Nothing before this is sent again: the end of the last window.
    uint64_t sentUpTo = 0;
    std::deque<SpeechWindow> finished;
};

} // namespace corvane::extensions::whisper
