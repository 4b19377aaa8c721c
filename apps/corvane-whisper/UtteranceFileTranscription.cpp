#include "UtteranceFileTranscription.h"

#include <algorithm>
#include <cmath>

#include <corvane/core/Logger.h>

#include "AudioFeeder.h"
#include "WhisperNodeFacts.h"
#include "WhisperNodeSetup.h"

namespace corvane::cli {

namespace {

constexpr std::chrono::milliseconds kPollInterval{1};
/// How far the feed may run past the oldest audio the node still needs.
constexpr std::uint64_t kFeedLimitSamples = kNodeHistorySamples - kFeedMarginSamples;

NodeUtterances::Settings followSettings(const TranscriptionSettings& settings)
{
    NodeUtterances::Settings chosen;
    chosen.timeout = settings.timeout;
    return chosen;
}

} // namespace

UtteranceFileTranscription::UtteranceFileTranscription(AudioSinkNode& sink, TranscriptionQueue& queue,
                                                       TranscriptPrinter& printer, StatusReporter& reporter,
                                                       const TranscriptionSettings& chosen)
    : node(sink), status(reporter), settings(chosen), utterances(sink, queue, printer, reporter, followSettings(chosen))
{
}

void UtteranceFileTranscription::run(const std::string& path, MonoAudio& audio)
{
    negotiateMonoInput(node, audio.sampleRate, path);
    // The feeder of the previous file has stopped: the count is settled.
    utterances.beginSource(path);
    const std::uint64_t origin = utterances.progress().received;
    const double framesPerNodeSample = audio.sampleRate / kNodeSampleRate;

    AudioFeeder feeder(node, audio.samples, audio.sampleRate, settings.realtime);
    const std::uint64_t total = feeder.getTotalFrames();
    status.beginFile(path, audio.getDurationSeconds());
    feeder.start();
    if (settings.realtime)
        feeder.feedUntil(total);

    while (feeder.getFramesFed() < total) {
        if (!settings.realtime) {
            const NodeUtterances::Progress progress = utterances.progress();
            const double limit =
                static_cast<double>(progress.neededFrom + kFeedLimitSamples - origin) * framesPerNodeSample;
            feeder.feedUntil(static_cast<std::uint64_t>(limit));
        }
        utterances.pump(kPollInterval);
        status.showProgress(static_cast<double>(std::min(feeder.getFramesFed(), feeder.getFileFrames())) /
                            audio.sampleRate);
    }
    // Everything is fed, the flush silence included.
    utterances.drain();

    if (feeder.getRefusedBlocks() > 0)
        Logger::warning("The node refused " + std::to_string(feeder.getRefusedBlocks()) + " blocks of " + path);
    status.clearProgress();
}

} // namespace corvane::cli
