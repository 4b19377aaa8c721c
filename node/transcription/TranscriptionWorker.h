#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ModelSlot.h"
#include "StableText.h"
#include "Transcription.h"
#include "TranscriptionRequests.h"
#include "UtteranceFinder.h"

namespace corvane::extensions::whisper {

class AudioIntake;

/// The node's worker thread: serves the requests of the "transcribe" action
/// and, with "autoTranscribe", the utterances it finds in the history itself;
/// for each it copies the window out of the history, runs the recogniser,
/// cleans the text and delivers it. Requests come first, then ended
/// utterances; only when neither waits does it transcribe the utterance under
/// way for interim text, and it gives such a run up as soon as other work
/// comes.
///
/// Threads: start() on the host's audio thread (with the first audio);
/// stop() on the thread that destroys the node; the progress getters from
/// any thread; the runs, and the delivery, on the worker's own thread.
class TranscriptionWorker {
public:
    /// Where results go, on the worker thread. Every request taken, and every
    /// utterance, ends in a final result or a failure.
    struct Deliveries {
        std::function<void(const Transcription&)> final;
        std::function<void(const PartialTranscription&)> partial;
        std::function<void(const TranscriptionFailure&)> failure;
    };

    struct Options {
        bool cleanAnnotations = true; ///< "suppressNonSpeechAnnotations"
        UtteranceSettings utterances;
    };

    TranscriptionWorker(const AudioIntake& intake, ModelSlot& model, TranscriptionRequests& requests,
                        const Options& options, Deliveries deliveries);
    /// Stops the worker if stop() was not called.
    ~TranscriptionWorker();

    TranscriptionWorker(const TranscriptionWorker&) = delete;
    TranscriptionWorker& operator=(const TranscriptionWorker&) = delete;

    /// Audio thread: starts the thread the first time, and does nothing after.
    /// Starting is the one allocation the audio thread makes; a thread that
    /// cannot be started is logged, never thrown into the host, and the node
    /// then records but never transcribes.
    void start() noexcept;
    /// Audio thread: whether start() has run.
    bool started() const noexcept { return startCalled; }
    /// Whether the thread exists and has not been joined.
    bool running() const noexcept { return thread.joinable(); }

    /// Asks the thread to finish and joins it; a run in progress completes
    /// first, with its delivery. Idempotent. Not on the worker thread.
    void stop();

    /// The utterance finder, when the node finds utterances itself; its
    /// progress getters are for any thread.
    const UtteranceFinder* utterances() const noexcept { return finder.get(); }

    /// The last run's copy of its window, padded with silence to the run's
    /// length: what whisper.cpp read. For tests, between runs.
    const std::vector<float>& lastRunSamples() const noexcept { return runSamples; }

private:
    using Clock = std::chrono::steady_clock;

    void loop();
    /// Serves the "transcribe" request just taken.
    void serveRequest();
    /// Looks for utterances and transcribes the next one that has ended, or
    /// the one under way for interim text; false when there was nothing to do.
    bool serveUtterance();
    bool servePartial();
    /// whisper.cpp's abort callback for interim runs: true once a request or
    /// an ended utterance waits.
    static bool urgentWorkWaits(void* worker);
    /// Copies `window` out of the history, recognises it and delivers the
    /// text, which begins with `knownStart` where the model can follow it.
    /// Holds the model's lock (`recogniser`) throughout.
    void transcribe(ModelSlot::Run& recogniser, TranscriptionRequests::Window window, Clock::time_point started,
                    bool deliverEmpty, const std::string& knownStart = {});
    /// The stable interim words that the final text of `utterance` is to
    /// begin with: none unless they were heard inside it.
    std::string settledStartOf(const SpeechWindow& utterance) const;
    /// Reports the run under way as failed: the log line is the caller's.
    void fail(const std::string& error);

    const AudioIntake& intake;
    ModelSlot& model;
    TranscriptionRequests& requests;
    const bool cleanAnnotations;
    Deliveries deliveries;
    /// The run under way, for the report of its failure.
    struct Serving {
        Clock::time_point started;
        uint64_t start = 0;
        uint64_t end = 0;
    };
    std::optional<Serving> serving;
    std::unique_ptr<UtteranceFinder> finder;
    const bool partials;
    const std::chrono::milliseconds partialInterval;
    /// The utterance the interim texts belong to, by its start.
    uint64_t partialUtteranceStart = UINT64_MAX;
    Clock::time_point nextPartialAt;
    StableText stable;
    /// Where the audio of the stable words ends at the latest: the end of
    /// the earlier of the two interim runs that agreed on them last.
    uint64_t stableHeardBy = 0;
    uint64_t previousPartialEnd = 0;
    Clock::time_point lastUrgencyCheck;
    /// The run's private copy of its window. whisper.cpp reads this, not the
    /// ring, so the audio thread may go on writing meanwhile; short windows
    /// are padded with silence here rather than read on into whatever the
    /// ring holds after them.
    std::vector<float> runSamples;
    std::thread thread;
    bool startCalled = false;
    std::atomic<bool> stopRequested{false};
};

} // namespace corvane::extensions::whisper
