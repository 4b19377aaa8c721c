#include "UtteranceFinder.h"

#include <algorithm>

#include <corvane/core/Logger.h>

#include "AudioIntake.h"

namespace corvane::extensions::whisper {

namespace {

/// The detector reads the history a second at most at a time.
constexpr uint32_t kChunkSamples = 16000;

} // namespace

UtteranceFinder::UtteranceFinder(const AudioIntake& intake, const UtteranceSettings& settings)
    : intake(intake)
    , settings(settings)
    , endpointer(settings.maxSamples, settings.pauseSamples)
    , queue(settings.maxSamples, true)
    , chunk(kChunkSamples)
{
}

void UtteranceFinder::examine()
{
    if (!started) {
        // The count may not start at 0 (a host that restarts counting).
        started = true;
        endpointer.restartAt(intake.firstSampleIndex());
    }
    const uint64_t total = intake.totalSamples();
    while (endpointer.getSamplesSeen() < total) {
        const uint64_t from = endpointer.getSamplesSeen();
        const uint64_t to = std::min(total, from + kChunkSamples);
        const WindowPlacement read =
            intake.readWindow(static_cast<uint32_t>(from), static_cast<uint32_t>(to), chunk.data());
        if (!read.valid || read.clampedStart) {
            // The worker was away (a long run) for longer than the history
            // lasts: what is gone cannot be looked at, and what follows it is
            // not the same utterance.
            const uint64_t resumeAt = total - std::min<uint64_t>(total, AudioIntake::kHistoryCapacity - kChunkSamples);
            Logger::warning("[WhisperSTTNode] Utterance detection fell behind; skipped " +
                            std::to_string(resumeAt - from) + " samples of audio.");
            endpointer.finish(from);
            while (const auto window = endpointer.takeWindow())
                queue.push(*window);
            endpointer.restartAt(resumeAt);
            continue;
        }
        endpointer.analyze({chunk.data(), read.sampleCount});
        while (const auto window = endpointer.takeWindow())
            queue.push(*window);
    }
    publishProgress();
}

void UtteranceFinder::finish(uint64_t endAtMost)
{
    endpointer.finish(endAtMost);
    while (const auto window = endpointer.takeWindow())
        queue.push(*window);
    publishProgress();
}

void UtteranceFinder::restartAt(uint64_t index)
{
    queue.clear();
    endpointer.restartAt(index);
    started = true;
    publishProgress();
}

std::optional<SpeechWindow> UtteranceFinder::next()
{
    inWork = queue.take();
    publishProgress();
    return inWork;
}

void UtteranceFinder::done()
{
    inWork.reset();
    publishProgress();
}

void UtteranceFinder::publishProgress()
{
    uint64_t needed = endpointer.getSamplesSeen();
    if (const auto open = endpointer.openWindowStart())
        needed = std::min(needed, *open);
    if (const auto waiting = queue.oldestStart())
        needed = std::min(needed, *waiting);
    if (inWork)
        needed = std::min(needed, inWork->start);
    oldestNeeded.store(needed);
    examinedUpTo.store(endpointer.getSamplesSeen());
    pendingCount.store(static_cast<uint32_t>(queue.size() + (inWork ? 1 : 0)));
}

} // namespace corvane::extensions::whisper
