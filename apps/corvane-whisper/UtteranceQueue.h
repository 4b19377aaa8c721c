#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "Endpointer.h"

namespace corvane::cli {

/// The speech windows waiting for the node, oldest first. whisper.cpp makes
/// words up out of a second of audio, so a window shorter than
/// kShortTailSamples joins the one before it while that one still waits and
/// the two together fit in the maximum window.
///
/// With holdLast (files, where waiting costs no one anything), the newest
/// window waits for its successor, so a short tail can always join it; it is
/// let go once the stream ends or once no later window could fit with it. A
/// live stream sends each window at once and joins only what is still queued.
///
/// Threads: the control thread only.
class UtteranceQueue {
public:
    static constexpr std::uint64_t kShortTailSamples = 16000;

    UtteranceQueue(std::uint64_t maxWindowSamples, bool holdLast);

    void push(const SpeechWindow& window);
    /// No window follows the ones pushed so far. The next push starts a new
    /// stream and joins nothing; the caller sends a stream's windows before
    /// the next stream's arrive.
    void endStream() noexcept { ended = true; }
    /// The oldest window that may go, given the newest sample index now.
    std::optional<SpeechWindow> takeReady(std::uint64_t now);
    /// The start of the oldest waiting window.
    std::optional<std::uint64_t> oldestStart() const;
    bool isEmpty() const noexcept { return windows.empty(); }

private:
    std::uint64_t maxWindowSamples;
    bool holdLast;
    bool ended = false;
    std::deque<SpeechWindow> windows;
};

} // namespace corvane::cli
