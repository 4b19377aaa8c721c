#include "UtteranceFileTranscription.h"

#include <algorithm>
#include <cmath>

#include <corvane/core/Logger.h>

#include "AudioFeeder.h"
#include "WhisperNodeSetup.h"
#include "WhisperNodeFacts.h"

namespace corvane::cli {

namespace {

constexpr std::chrono::milliseconds kPollInterval{1};
/// How far the feed may run ahead of what the control thread has looked at.
constexpr double kFeedAheadSeconds = 0.2;
/// How far the feed may run past the oldest window not transcribed yet.
constexpr std::uint64_t kFeedLimitSamples = kNodeHistorySamples - kFeedMarginSamples;

UtteranceDispatcher::Settings dispatchSettings(const TranscriptionSettings& settings, std::uint64_t maxWindowSamples)
{
    UtteranceDispatcher::Settings chosen;
    chosen.maxWindowSamples = maxWindowSamples;
    chosen.holdLast = true;
    chosen.timeout = settings.timeout;
    return chosen;
}

} // namespace

UtteranceFileTranscription::UtteranceFileTranscription(AudioSinkNode& sink, TranscriptionQueue& queue,
                                                       TranscriptPrinter& printer, StatusReporter& reporter,
                                                       const TranscriptionSettings& chosen)
    : node(sink),
      status(reporter),
      settings(chosen),
      endpointer(chosen.maxWindowSeconds),
      dispatcher(sink, queue, printer, reporter, dispatchSettings(chosen, endpointer.getMaxWindowSamples()))
{
}

void UtteranceFileTranscription::run(const std::string& path, MonoAudio& audio)
{
    negotiateMonoInput(node, audio.sampleRate, path);

    // The feeder of the previous file has stopped: the count is settled.
    const std::uint64_t origin = endpointer.getSamplesSeen();
    const double nodeSamplesPerFrame = Endpointer::kSampleRate / audio.sampleRate;
    const auto fileEnd =
        origin + static_cast<std::uint64_t>(std::llround(static_cast<double>(audio.getNumberOfFrames()) * nodeSamplesPerFrame));
    dispatcher.beginSource(path, origin);

    AudioFeeder feeder(node, audio.samples, audio.sampleRate, settings.realtime, &endpointer);
    const std::uint64_t total = feeder.getTotalFrames();
    const auto feedAhead = static_cast<std::uint64_t>(std::llround(kFeedAheadSeconds * audio.sampleRate));
    status.beginFile(path, audio.getDurationSeconds());
    feeder.start();
    if (settings.realtime)
        feeder.feedUntil(total);

    while (feeder.getFramesFed() < total) {
        if (!settings.realtime) {
            std::uint64_t target = feeder.getFramesFed() + feedAhead;
            if (const auto oldest = dispatcher.oldestOutstandingStart()) {
                const double limit = static_cast<double>(*oldest + kFeedLimitSamples - origin) / nodeSamplesPerFrame;
                target = std::min(target, static_cast<std::uint64_t>(limit));
            }
            feeder.feedUntil(target);
        }
        dispatcher.addWindowsFrom(endpointer);
        dispatcher.pump(kPollInterval, endpointer.getSamplesSeen());
        status.showProgress(static_cast<double>(std::min(feeder.getFramesFed(), feeder.getFileFrames())) /
                            audio.sampleRate);
    }

    // Everything is fed, the flush included, and the feeder waits: the
    // endpointer is the control thread's now.
    endpointer.finish(fileEnd);
    dispatcher.addWindowsFrom(endpointer);
    dispatcher.drain(endpointer.getSamplesSeen());

    if (endpointer.getDroppedWindows() > 0)
        Logger::warning("Utterances lost so far for want of room to queue them: " +
                        std::to_string(endpointer.getDroppedWindows()));
    if (feeder.getRefusedBlocks() > 0)
        Logger::warning("The node refused " + std::to_string(feeder.getRefusedBlocks()) + " blocks of " + path);
    status.clearProgress();
}

} // namespace corvane::cli
