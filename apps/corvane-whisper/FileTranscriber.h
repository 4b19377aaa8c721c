#pragma once

#include <chrono>
#include <string>

#include "AudioFileReader.h"

namespace corvane::cli {

/// How every file of a run is transcribed.
struct TranscriptionSettings {
    /// Fixed windows of this length; 0: windows end in pauses.
    double stepSeconds = 0.0;
    /// The longest window when windows end in pauses.
    double maxWindowSeconds = 20.0;
    /// Feed at the audio's own speed and keep feeding while a window is
    /// transcribed; otherwise feed as fast as the node keeps up.
    bool realtime = false;
    std::chrono::milliseconds timeout{120000};
};

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
