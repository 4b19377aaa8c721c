#pragma once

#include <memory>
#include <string>

#include <corvane/graph/AudioSinkNode.h>
#include <corvane/graph/Node.h>

#include "CommandError.h"
#include "CommandLineOptions.h"
#include "StatusReporter.h"

namespace corvane::cli {

/// A Whisper node with its model loaded, made the way a host makes one.
struct WhisperNode {
    std::unique_ptr<Node> node;
    AudioSinkNode* sink = nullptr; ///< The same node, as an audio sink.
    double loadSeconds = 0.0;      ///< Creating the node, model load included.
};

/// Checks the --model path, loads the extension library, creates the node
/// from the command's configuration and makes sure it has a model. Raises
/// CommandError saying what is missing and how to get it.
WhisperNode createWhisperNode(const CommandLineOptions& options);

/// Tells the node that mono audio at this rate comes next; raises
/// CommandError naming the source when it refuses.
void negotiateMonoInput(AudioSinkNode& node, double sampleRate, const std::string& source);

/// Reports a window whose text did not come in time and ends the process at
/// once: destroying the node would wait for the run it is still busy with.
[[noreturn]] void leaveAfterTimeout(StatusReporter& status, const TranscriptionTimeout& timeout);

} // namespace corvane::cli
