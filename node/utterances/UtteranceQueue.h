#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "Endpointer.h"

namespace corvane::extensions::whisper {

/// The utterances waiting for the recogniser, oldest first. whisper.cpp makes
/// words up out of a second of audio, so an utterance shorter than
/// kShortTailSamples joins the one before it while that one still waits and
/// the two together fit in the maximum window. When the recogniser has fallen
/// behind (a file fed faster than real time), take() also joins neighbours
/// that wait together, up to the maximum: one longer run costs less than
/// several short ones and gives whisper.cpp more context.
///
/// Threads: one owner (the node's worker).
class UtteranceQueue {
public:
    static constexpr uint64_t kShortTailSamples = 16000;

    UtteranceQueue(uint64_t maxWindowSamples, bool joinWaiting);

    void push(const SpeechWindow& window);
    /// The next window to transcribe.
    std::optional<SpeechWindow> take();
    void clear() noexcept { windows.clear(); }

    std::size_t size() const noexcept { return windows.size(); }
    /// The start of the oldest waiting window.
    std::optional<uint64_t> oldestStart() const noexcept;

private:
    uint64_t maxWindowSamples;
    bool joinWaiting;
    std::deque<SpeechWindow> windows;
};

} // namespace corvane::extensions::whisper
