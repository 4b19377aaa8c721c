#include "FileTranscription.h"

#include <algorithm>
#include <cstdio>

#include <corvane/core/Logger.h>

#include "AudioFeeder.h"
#include "CommandError.h"
#include "WhisperNodeSetup.h"

namespace corvane::cli {

namespace {

/// How often the control thread looks at the feeder while it waits for it.
constexpr std::chrono::milliseconds kPollInterval{1};

} // namespace

FileTranscription::FileTranscription(AudioSinkNode& sink, TranscriptionQueue& events, TranscriptPrinter& out,
                                     StatusReporter& reporter, const TranscriptionSettings& chosen)
    : node(sink), queue(events), printer(out), status(reporter), settings(chosen)
{
}

void FileTranscription::run(const std::string& path, MonoAudio& audio)
{
    file = path;
    pending.reset();

    negotiateMonoInput(node, audio.sampleRate, path);

    WindowSchedule schedule(audio.sampleRate, audio.getNumberOfFrames(), settings.stepSeconds);
    AudioFeeder feeder(node, audio.samples, audio.sampleRate, settings.realtime);
    status.beginFile(path, audio.getDurationSeconds());
    feeder.start();

    while (!schedule.isFinalStep()) {
        feedTo(feeder, schedule.getStepEnd());
        if (pending) {
            schedule.skipStep();
            continue;
        }
        if (const auto window = schedule.endWindow()) {
            request(*window);
            if (!settings.realtime)
                awaitPending();
        }
    }

    // The flush pushes the audio the resampler still holds into the node.
    feedTo(feeder, feeder.getTotalFrames());
    if (pending)
        awaitPending();
    if (const auto window = schedule.endWindow()) {
        request(*window);
        awaitPending();
    }

    if (feeder.getRefusedBlocks() > 0)
        Logger::warning("The node refused " + std::to_string(feeder.getRefusedBlocks()) + " blocks of " + path);
    status.clearProgress();
}

void FileTranscription::feedTo(AudioFeeder& feeder, std::uint64_t frame)
{
    feeder.feedUntil(frame);
    while (feeder.getFramesFed() < frame) {
        takeArrived(kPollInterval);
        const auto fed = std::min(feeder.getFramesFed(), feeder.getFileFrames());
        status.showProgress(static_cast<double>(fed) / feeder.getSampleRate());
    }
}

void FileTranscription::request(const WindowSchedule::Window& window)
{
    const Result<CVAny> requested = node.callAction("transcribe", CVAnyMap{});
    if (requested.hasError())
        throw CommandError(requested.getError().getMessage());
    pending = window;
}

void FileTranscription::awaitPending()
{
    if (!takeArrived(settings.timeout))
        throw TranscriptionTimeout("no text for " + file + " " + formatWindowTimes(*pending) + " within " +
                                   std::to_string(settings.timeout.count()) + " ms (see --timeout)");
}

bool FileTranscription::takeArrived(std::chrono::milliseconds wait)
{
    std::optional<Transcription> arrived = queue.pop(wait);
    if (!arrived)
        return false;
    if (!pending) {
        Logger::debug("A transcription arrived for no window; dropped: " + arrived->text);
        return false;
    }
    status.clearProgress();
    printer.print(file, *pending, *arrived);
    pending.reset();
    return true;
}

} // namespace corvane::cli
