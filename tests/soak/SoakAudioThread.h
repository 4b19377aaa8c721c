#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "WhisperSTTNode.h"

namespace corvane::test {

using extensions::whisper::WhisperSTTNode;

/// Plays the host's audio thread for one node: mono blocks of 1 to 8192
/// frames, at input rates that change every fraction of a second among 8,
/// 16, 22.05, 44.1, 48 and 96 kHz, paced at real time as a sound card would.
///
/// Threads: start() and stop() on the test thread; consume() only on the
/// feeder's own thread.
class SoakAudioThread {
public:
    struct Report {
        uint64_t blocks = 0;
        uint64_t rateChanges = 0;
        /// Blocks fed at the rate of the block before, after the worker had
        /// started: the node must neither allocate nor lock in these.
        uint64_t steadyBlocks = 0;
        uint64_t allocations = 0;
        uint64_t locks = 0;
        /// Blocks after which the history's sample counter differed from the
        /// frames the resampler had delivered.
        uint64_t counterMismatches = 0;
    };

    SoakAudioThread(WhisperSTTNode& node, uint32_t seed) : node(node), seed(seed) {}
    ~SoakAudioThread() { stop(); }

    SoakAudioThread(const SoakAudioThread&) = delete;
    SoakAudioThread& operator=(const SoakAudioThread&) = delete;

    /// Feeds preRollSeconds of audio as fast as it goes (so the history can
    /// be full before any request), then returns and goes on in real time.
    void start(double preRollSeconds);
    /// Stops feeding; after this nothing calls consume() any more.
    Report stop();

private:
    void run(double preRollSeconds);

    WhisperSTTNode& node;
    const uint32_t seed;
    std::thread thread;
    std::atomic<bool> stopRequested{false};
    std::mutex readyMutex;
    std::condition_variable readyChanged;
    bool ready = false;
    Report report;
};

} // namespace corvane::test
