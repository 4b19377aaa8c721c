#pragma once

#include <string>

#include <corvane/graph/AudioSinkNode.h>

#include "FileTranscriber.h"
#include "NodeUtterances.h"

namespace corvane::cli {

/// Transcribes files utterance by utterance: the node ("autoTranscribe")
/// ends each window in a pause, and each window's text is printed as it
/// arrives.
///
/// Without --realtime the feed runs ahead only as far as the node's history
/// still holds the oldest audio the node has not transcribed yet (the node's
/// "getProgress"), so nothing is lost however slow the recogniser is.
///
/// Threads: the control thread; the feeding thread is the AudioFeeder's.
class UtteranceFileTranscription : public FileTranscriber {
public:
    UtteranceFileTranscription(AudioSinkNode& node, TranscriptionQueue& queue, TranscriptPrinter& printer,
                               StatusReporter& status, const TranscriptionSettings& settings);

    void run(const std::string& path, MonoAudio& audio) override;

private:
    AudioSinkNode& node;
    StatusReporter& status;
    TranscriptionSettings settings;
    NodeUtterances utterances;
};

} // namespace corvane::cli
