#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <corvane/graph/Node.h>

#include "StatusReporter.h"
#include "TranscriptPrinter.h"
#include "TranscriptionQueue.h"

namespace corvane::cli {

/// Follows a node that finds its own utterances ("autoTranscribe") and prints
/// each one's text as its "transcribed" event arrives, with times counted
/// from the start of the current source.
///
/// Threads: the control thread only; the node's worker thread reaches it
/// through the TranscriptionQueue.
class NodeUtterances {
public:
    using Clock = std::chrono::steady_clock;

    /// Where the node has got (its "getProgress"), in its sample indices.
    struct Progress {
        std::uint64_t received = 0;
        std::uint64_t examined = 0;
        std::uint64_t neededFrom = 0;
        std::uint64_t pending = 0;
    };

    struct Settings {
        /// How long the node may take to answer while utterances are pending.
        std::chrono::milliseconds timeout{120000};
        /// Log, at info level, how long after its end each utterance printed
        /// (live sources, which deliver in real time).
        bool reportLatency = false;
    };

    NodeUtterances(Node& node, TranscriptionQueue& events, TranscriptPrinter& printer, StatusReporter& status,
                   const Settings& settings);

    /// Utterances from now on belong to this source, whose first sample is
    /// the node's next one; printed times count from there.
    void beginSource(const std::string& name);
    Progress progress() const;

    /// Prints what arrives within `wait`. Raises TranscriptionTimeout when
    /// utterances are pending and nothing has come for the timeout.
    void pump(std::chrono::milliseconds wait);
    /// Ends the utterance under way and prints every pending one.
    void drain();

private:
    void print(const Transcription& transcription);

    Node& node;
    TranscriptionQueue& events;
    TranscriptPrinter& printer;
    StatusReporter& status;
    Settings settings;
    std::string source;
    std::uint64_t origin = 0;
    Clock::time_point sourceStarted;
    Clock::time_point lastAnswer;
};

} // namespace corvane::cli
