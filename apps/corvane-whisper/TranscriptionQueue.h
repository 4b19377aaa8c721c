#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include <corvane/core/CVAny.h>

namespace corvane::cli {

/// The data of one "transcribed" or "partialTranscription" event.
struct Transcription {
    std::string text;
    long long processingTimeMs = 0;
    /// The window transcribed, in the node's absolute 16 kHz sample indices.
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    /// False for interim text of an utterance still under way.
    bool final = true;
    std::string stableText{};
    /// With --language auto: the language detected and how sure of it.
    std::string language{};
    double languageProbability = 0.0;
};

/// Hands "transcribed" events from the node's worker thread to the control
/// thread, which does all the printing.
///
/// Threads: the node's worker thread calls push() (from the event listener);
/// the control thread calls pop().
class TranscriptionQueue {
public:
    /// Takes the event's data map; raises for data that lacks its fields (the
    /// node's emitter catches and logs what a listener raises).
    void push(const CVAny& eventData, bool final = true);
    /// The oldest event, waiting at most `timeout` for one; nothing when none
    /// came in time. A zero timeout only looks.
    std::optional<Transcription> pop(std::chrono::milliseconds timeout);

private:
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Transcription> events;
};

} // namespace corvane::cli
