#pragma once

#include <string>

#include <corvane/graph/AudioSinkNode.h>

#include "Endpointer.h"
#include "FileTranscriber.h"
#include "FileTranscription.h"
#include "UtteranceDispatcher.h"

namespace corvane::cli {

/// Transcribes files utterance by utterance: an Endpointer hears what the
/// node hears and ends each window in a pause, and each window's text is
/// printed as it arrives. One endpointer serves every file, so its sample
/// count stays the node's.
///
/// Without --realtime the feed runs ahead of the transcription only as far as
/// the node's history still holds the oldest window not transcribed yet.
///
/// Threads: the control thread; the feeding thread is the AudioFeeder's, and
/// the endpointer's audio side runs on it.
class UtteranceFileTranscription : public FileTranscriber {
public:
    UtteranceFileTranscription(AudioSinkNode& node, TranscriptionQueue& queue, TranscriptPrinter& printer,
                               StatusReporter& status, const TranscriptionSettings& settings);

    void run(const std::string& path, MonoAudio& audio) override;

private:

    AudioSinkNode& node;
    StatusReporter& status;
    TranscriptionSettings settings;
    Endpointer endpointer;
    UtteranceDispatcher dispatcher;
};

} // namespace corvane::cli
