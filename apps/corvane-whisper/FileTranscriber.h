#pragma once

#include <string>

#include "AudioFileReader.h"

namespace corvane::cli {

/// Transcribes files one after another with one node, printing as it goes.
///
/// Threads: the control thread.
class FileTranscriber {
public:
    virtual ~FileTranscriber() = default;
    /// Raises CommandError when the node refuses the audio or a request, and
    /// TranscriptionTimeout when a window's text does not come in time.
    virtual void run(const std::string& path, MonoAudio& audio) = 0;
};

} // namespace corvane::cli
