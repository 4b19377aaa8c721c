#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "Endpointer.h"
#include "UtteranceQueue.h"

namespace corvane::extensions::whisper {

class AudioIntake;

/// How the node finds utterances on its own ("autoTranscribe").
struct UtteranceSettings {
    bool enabled = false;
    /// Interim text of the utterance under way ("partialResults"), about
    /// every partialInterval ("partialIntervalMs").
    bool partials = true;
    std::chrono::milliseconds partialInterval{1000};
    uint64_t pauseSamples = Endpointer::kDefaultPauseSamples; ///< "utterancePauseMs"
    uint64_t maxSamples = 320000;                             ///< "maxUtteranceSeconds"
};

/// Finds the utterances in the audio the node has received and hands them
/// out one at a time. It reads the history on the worker thread, after the
/// fact, so the audio thread does no more than store samples.
///
/// Threads: everything on the worker thread, except the progress getters,
/// which any thread may call.
class UtteranceFinder {
public:
    UtteranceFinder(const AudioIntake& intake, const UtteranceSettings& settings);

    /// Runs the detector over the audio received since the last call. Audio
    /// that left the history before it was looked at is skipped, with a
    /// warning, and detection starts again after it.
    void examine();
    /// The utterance under way ends at endAtMost at the latest (the end of a
    /// stream), and waits with the others.
    void finish(uint64_t endAtMost);
    /// Drops the utterance under way and those waiting; goes on from index.
    void restartAt(uint64_t index);

    /// The next utterance to transcribe; it counts as pending until done().
    std::optional<SpeechWindow> next();
    void done();
    /// Whether an ended utterance waits to be transcribed.
    bool hasEnded() const noexcept { return queue.size() > 0; }
    /// The utterance under way, as far as it has been heard.
    std::optional<SpeechWindow> openUtterance() const noexcept { return endpointer.openUtterance(); }

    // Any thread.
    /// Samples looked at so far (the absolute index of the next one).
    uint64_t examined() const noexcept { return examinedUpTo.load(); }
    /// The oldest sample still needed: the start of the oldest utterance not
    /// transcribed yet, or what is still to be looked at.
    uint64_t neededFrom() const noexcept { return oldestNeeded.load(); }
    /// Utterances ended and not yet delivered.
    uint32_t pending() const noexcept { return pendingCount.load(); }

private:
    void publishProgress();

    const AudioIntake& intake;
    const UtteranceSettings settings;
    Endpointer endpointer;
    UtteranceQueue queue;
    std::vector<float> chunk;
    bool started = false;
    std::optional<SpeechWindow> inWork;

    std::atomic<uint64_t> examinedUpTo{0};
    std::atomic<uint64_t> oldestNeeded{0};
    std::atomic<uint32_t> pendingCount{0};
};

} // namespace corvane::extensions::whisper
