#pragma once

#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "WhisperSTTNode.h"

namespace corvane::test {

using extensions::whisper::WhisperSTTNode;

/// Plays an application's control thread for one node: "transcribe" with the
/// default window and with explicit windows (valid, reaching outside the
/// history, and invalid), "resetTranscribeWindow", and "loadModel" with good
/// and bad paths, at random, a few dozen times a second.
///
/// Threads: start() and stop() on the test thread; the actions on the control
/// thread's own thread.
class SoakControlThread {
public:
    struct Paths {
        std::string model;      ///< loads
        std::string notAModel;  ///< exists, does not load
        std::string missing;    ///< does not exist
    };

    struct Tally {
        uint64_t actions = 0;
        /// Accepted "transcribe" calls; a default one may still have posted
        /// nothing (the log says "skipping").
        uint64_t accepted = 0;
        uint64_t refused = 0;   ///< invalid windows, or no model at the time
        uint64_t loads = 0;
        uint64_t failedLoads = 0;
        /// Results that contradict the node's contract.
        std::vector<std::string> problems;
    };

    SoakControlThread(WhisperSTTNode& node, Paths paths, uint32_t seed)
        : node(node), paths(std::move(paths)), seed(seed)
    {
    }
    ~SoakControlThread() { stop(); }

    SoakControlThread(const SoakControlThread&) = delete;
    SoakControlThread& operator=(const SoakControlThread&) = delete;

    void start();
    Tally stop();

private:
    void run();
    void act(uint32_t choice, std::mt19937& random);
    void transcribe(const CVAnyMap& params, bool valid);
    void problem(std::string text);

    WhisperSTTNode& node;
    const Paths paths;
    const uint32_t seed;
    std::thread thread;
    std::atomic<bool> stopRequested{false};
    Tally tally;
};

} // namespace corvane::test
