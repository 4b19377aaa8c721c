#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include <corvane/audio/AudioBus.h>
#include <corvane/audio/AudioGraphResampler.h>

#include "SpeechDetector.h"
#include "WhisperNodeFacts.h"

namespace corvane::cli {

/// A stretch of speech to transcribe, in the node's 16 kHz sample indices.
struct SpeechWindow {
    std::uint64_t start = 0;
    std::uint64_t end = 0; ///< One past the last sample.

    std::uint64_t length() const noexcept { return end - start; }
    bool operator==(const SpeechWindow&) const = default;
};

/// Decides where utterances begin and end in a stream of audio, so that each
/// window handed to the node holds whole words:
/// - a window ends once speech has paused for kPauseSamples, cut in the middle
///   of that pause; the next one starts kLeadInSamples before speech resumes,
///   or where the previous one ended if that is later;
/// - a window that reaches the maximum length without such a pause is cut at
///   the quietest 20 ms of its last kCutSearchSamples (of its later half, for
///   a maximum under 6 s), and the rest goes on as the next window;
/// - audio without speech opens no window at all.
/// It runs the same converter the node runs (AudioGraphResampler to 16 kHz in
/// deliveries of at most 512 frames), fed with the same blocks, so its sample
/// count is the node's and its windows are the node's indices exactly.
///
/// Threads: the control thread constructs it before audio flows. The audio
/// thread calls consume() (or analyze()); it allocates nothing after the first
/// block at a rate, takes no lock and never throws. finish() belongs to the
/// audio thread too, or to the control thread once the audio thread has
/// stopped. The control thread calls takeWindow() and the getters; windows
/// reach it through a single-producer, single-consumer ring of atomics.
class Endpointer {
public:
    static constexpr double kSampleRate = kNodeSampleRate;
    /// A window must fit in the node's history.
    static constexpr double kLongestWindowSeconds = kNodeHistorySeconds;
    static constexpr double kDefaultMaxWindowSeconds = 20.0;
    static constexpr std::uint64_t kPauseSamples = 4800;      ///< 300 ms below the speech threshold.
    static constexpr std::uint64_t kCutSearchSamples = 48000; ///< The last 3 s of a window too long.
    /// Audio kept before the first frame heard as speech, never reaching back
    /// into the previous window: soft onsets ("th", "f", "h") lie below the
    /// threshold, and whisper.cpp clips a word it hears starting abruptly.
    static constexpr std::uint64_t kLeadInSamples = 4800;
    /// Speech shorter than this (a click, a knock) opens no window.
    static constexpr std::uint32_t kShortestSpeechFrames = 5;

    /// maxWindowSeconds is kept within [1, kLongestWindowSeconds].
    explicit Endpointer(double maxWindowSeconds = kDefaultMaxWindowSeconds);

    Endpointer(const Endpointer&) = delete;
    Endpointer& operator=(const Endpointer&) = delete;

    /// Audio thread: the blocks the node consumes, at their own rate.
    void consume(AudioBusList& input) noexcept;
    /// Audio thread: 16 kHz samples that follow the ones seen so far.
    void analyze(std::span<const float> samples) noexcept;
    /// The stream ends (or pauses for good): the utterance under way becomes a
    /// window that ends at most at endAtMost.
    void finish(std::uint64_t endAtMost = UINT64_MAX) noexcept;

    /// Control thread: the oldest window not taken yet.
    std::optional<SpeechWindow> takeWindow() noexcept;
    /// 16 kHz samples analysed so far: the index of the next sample.
    std::uint64_t getSamplesSeen() const noexcept { return samplesSeen.load(std::memory_order_acquire); }
    /// Windows lost because the control thread did not take them in time.
    std::uint64_t getDroppedWindows() const noexcept { return droppedWindows.load(std::memory_order_relaxed); }
    std::uint64_t getMaxWindowSamples() const noexcept { return maxWindowSamples; }

private:
    /// One analysed frame, kept for looking back.
    struct Frame {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        float power = 0.0f;
        bool speech = false;
    };
    /// 5.12 s of frames: the cut search and the look back at an onset.
    static constexpr std::size_t kFrameHistory = 512;
    static constexpr std::size_t kQueueCapacity = 64;

    void endFrame() noexcept;
    void onSpeech(const Frame& frame) noexcept;
    void onQuiet(const Frame& frame) noexcept;
    /// The floor has just dropped: frames heard as background may have been
    /// speech after all; if so, the window opens where they began.
    void reopenUnheardSpeech() noexcept;
    /// Where speech that has just been heard really began: earlier frames that
    /// the floor learnt since then shows to be speech, up to the last pause.
    std::uint64_t onsetBefore(const Frame& frame) const noexcept;
    /// Where a window whose speech begins at onset starts.
    std::uint64_t startBefore(std::uint64_t onset) const noexcept;
    /// The middle of the quietest 20 ms near the end of the open window.
    std::uint64_t quietestCutPoint() const noexcept;
    void close(std::uint64_t end) noexcept;
    void publish(const SpeechWindow& window) noexcept;
    const Frame& frameBack(std::size_t back) const noexcept;

    const std::uint64_t maxWindowSamples;

    // Audio thread.
    AudioGraphResampler converter;
    AudioBusArray<0> noOutputs;
    SpeechDetector detector;
    std::array<Frame, kFrameHistory> frames{};
    std::size_t framesStored = 0;
    double frameSumOfSquares = 0.0;
    std::uint32_t frameFill = 0;
    std::uint64_t frameStart = 0;
    std::uint64_t position = 0;
    bool open = false;
    std::uint64_t windowStart = 0;
    std::uint64_t lastSpeechEnd = 0;
    std::uint32_t speechFrames = 0;
    /// Nothing before this is sent again: the end of the last window.
    std::uint64_t sentUpTo = 0;

    // Shared.
    std::atomic<std::uint64_t> samplesSeen{0};
    std::atomic<std::uint64_t> droppedWindows{0};
    std::array<SpeechWindow, kQueueCapacity> queue{};
    std::atomic<std::size_t> queueHead{0}; ///< Next to take; control thread.
    std::atomic<std::size_t> queueTail{0}; ///< Next to fill; audio thread.
};

} // namespace corvane::cli
