#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <corvane/graph/AudioSinkNode.h>

#include "Endpointer.h"
#include "StatusReporter.h"
#include "TranscriptPrinter.h"
#include "TranscriptionQueue.h"
#include "UtteranceQueue.h"

namespace corvane::cli {

/// Sends speech windows to the node as explicit "transcribe" requests and
/// prints each transcript as its "transcribed" event arrives. The node holds
/// one request, not a queue, so a window goes only once the previous one's
/// text is in; the rest wait in an UtteranceQueue.
///
/// Threads: the control thread only; the node's worker thread reaches it
/// through the TranscriptionQueue.
class UtteranceDispatcher {
public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        std::uint64_t maxWindowSamples = 320000;
        /// Files: hold the newest window back for a short tail to join.
        bool holdLast = false;
        std::chrono::milliseconds timeout{120000};
        /// Log, at info level, how long after its end each utterance printed.
        bool reportLatency = false;
    };

    UtteranceDispatcher(AudioSinkNode& node, TranscriptionQueue& events, TranscriptPrinter& printer,
                        StatusReporter& status, const Settings& settings);

    /// The windows from now on are this source's, whose first sample has the
    /// node index origin; printed times count from there.
    void beginSource(const std::string& name, std::uint64_t origin);
    /// A window the endpointer closed.
    void add(const SpeechWindow& window) { waiting.push(window); }
    /// Adds every window the endpointer has finished so far.
    void addWindowsFrom(Endpointer& endpointer)
    {
        while (const std::optional<SpeechWindow> window = endpointer.takeWindow())
            add(*window);
    }
    /// The source has no more windows.
    void endSource() noexcept { waiting.endStream(); }

    /// Prints a transcript that arrives within `wait`, then sends the next
    /// window if the node is free. now: the node's newest sample index.
    /// Raises TranscriptionTimeout when the window in work takes too long,
    /// and CommandError when the node refuses a request.
    void pump(std::chrono::milliseconds wait, std::uint64_t now);
    /// Pumps until every window is transcribed.
    void drain(std::uint64_t now);

    bool isIdle() const noexcept { return !inWork && waiting.isEmpty(); }
    /// The start of the oldest window not transcribed yet: audio the node
    /// must still hold.
    std::optional<std::uint64_t> oldestOutstandingStart() const;

private:
    struct Sent {
        SpeechWindow window;
        Clock::time_point sentAt;
    };

    /// Sends the next window that may go, when the node is free.
    void sendNext(std::uint64_t now);
    void print(const Transcription& transcription);
    void noteClock(std::uint64_t now);

    AudioSinkNode& node;
    TranscriptionQueue& events;
    TranscriptPrinter& printer;
    StatusReporter& status;
    Settings settings;
    UtteranceQueue waiting;
    std::string source;
    std::uint64_t origin = 0;
    std::optional<Sent> inWork;
    /// The earliest moment sample 0 can have been heard, for the latency
    /// report: the least (time - index / 16 kHz) of every pump.
    std::optional<Clock::time_point> streamOrigin;
};

} // namespace corvane::cli
