#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace corvane::extensions::whisper {

class AudioIntake;
class ModelSlot;
class TranscriptionRequests;

/// The node's worker thread: waits for a request, copies its window out of
/// the history, runs the recogniser over it, cleans the text and delivers it.
///
/// Threads: start() on the host's audio thread (with the first audio);
/// stop() on the thread that destroys the node; the runs, and the delivery,
/// on the worker's own thread.
class TranscriptionWorker {
public:
    /// Receives each result on the worker thread: text and processing time.
    using Delivery = std::function<void(const std::string& text, int32_t processingTimeMs)>;

    TranscriptionWorker(const AudioIntake& intake, ModelSlot& model, TranscriptionRequests& requests,
                        bool cleanAnnotations, Delivery deliver);
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

    /// The last run's copy of its window, padded with silence to the run's
    /// length: what whisper.cpp read. For tests, between runs.
    const std::vector<float>& lastRunSamples() const noexcept { return runSamples; }

private:
    void loop();
    /// Serves the current request once.
    void run();

    const AudioIntake& intake;
    ModelSlot& model;
    TranscriptionRequests& requests;
    const bool cleanAnnotations;
    Delivery deliver;
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
