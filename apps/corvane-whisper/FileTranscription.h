#pragma once

#include <chrono>
#include <optional>
#include <string>

#include <corvane/graph/AudioSinkNode.h>

#include "AudioFileReader.h"
#include "FileTranscriber.h"
#include "StatusReporter.h"
#include "TranscriptPrinter.h"
#include "TranscriptionQueue.h"
#include "WindowSchedule.h"

namespace corvane::cli {

class AudioFeeder;

/// Transcribes one file with a node that has its model: negotiates the file's
/// rate, plays the file into the node and asks for a window at every step and
/// at the end, printing each window as its "transcribed" event arrives.
///
/// One window is in work at a time, so every event belongs to the window
/// asked for last. In real time, a step that comes while a window is still in
/// work asks for nothing: the next window then reaches back to where the last
/// one ended, as the node's default window does.
///
/// Threads: the control thread only. The node's worker thread reaches it
/// through the queue; the feeding thread is the AudioFeeder's.
class FileTranscription : public FileTranscriber {
public:
    FileTranscription(AudioSinkNode& node, TranscriptionQueue& queue, TranscriptPrinter& printer,
                      StatusReporter& status, const TranscriptionSettings& settings);

    void run(const std::string& path, MonoAudio& audio) override;

private:
    /// Lets the feeder go on to `frame` and waits for it, printing what
    /// arrives meanwhile.
    void feedTo(AudioFeeder& feeder, std::uint64_t frame);
    void request(const WindowSchedule::Window& window);
    /// Waits for the window in work and prints it.
    void awaitPending();
    /// Prints an event for the window in work; waits at most `wait`.
    bool takeArrived(std::chrono::milliseconds wait);

    AudioSinkNode& node;
    TranscriptionQueue& queue;
    TranscriptPrinter& printer;
    StatusReporter& status;
    TranscriptionSettings settings;

    std::string file;
    std::optional<WindowSchedule::Window> pending;
};

} // namespace corvane::cli
