#include "UtteranceDispatcher.h"

#include <algorithm>

#include <corvane/core/Logger.h>

#include "CommandError.h"
#include "WhisperNodeFacts.h"

namespace corvane::cli {

namespace {

/// How far back a window may start when it goes to the node.
constexpr std::uint64_t kHistoryInUse = kNodeHistorySamples - kRequestMarginSamples;

WindowSchedule::Window shown(const SpeechWindow& window, std::uint64_t origin)
{
    return {window.start - std::min(origin, window.start), window.end - std::min(origin, window.end)};
}

} // namespace

UtteranceDispatcher::UtteranceDispatcher(AudioSinkNode& sink, TranscriptionQueue& arrivals, TranscriptPrinter& out,
                                         StatusReporter& reporter, const Settings& chosen)
    : node(sink),
      events(arrivals),
      printer(out),
      status(reporter),
      settings(chosen),
      waiting(chosen.maxWindowSamples, chosen.holdLast)
{
}

void UtteranceDispatcher::beginSource(const std::string& name, std::uint64_t first)
{
    source = name;
    origin = first;
    streamOrigin.reset();
}

std::optional<std::uint64_t> UtteranceDispatcher::oldestOutstandingStart() const
{
    if (inWork)
        return inWork->window.start;
    return waiting.oldestStart();
}

void UtteranceDispatcher::pump(std::chrono::milliseconds wait, std::uint64_t now)
{
    noteClock(now);
    sendNext(now);
    if (std::optional<Transcription> arrived = events.pop(wait)) {
        if (inWork) {
            print(*arrived);
            inWork.reset();
        } else {
            Logger::debug("A transcription arrived for no window; dropped: " + arrived->text);
        }
    } else if (inWork && Clock::now() - inWork->sentAt > settings.timeout) {
        const WindowSchedule::Window window = shown(inWork->window, origin);
        throw TranscriptionTimeout("no text for " + source + " " + formatWindowTimes(window) + " within " +
                                   std::to_string(settings.timeout.count()) + " ms (see --timeout)");
    }
    sendNext(now);
}

void UtteranceDispatcher::drain(std::uint64_t now)
{
    waiting.endStream();
    while (!isIdle())
        pump(std::chrono::milliseconds(5), now);
}

void UtteranceDispatcher::sendNext(std::uint64_t now)
{
    if (inWork)
        return;
    std::optional<SpeechWindow> next = waiting.takeReady(now);
    if (!next)
        return;
    SpeechWindow& window = *next;
    // A window that waited while the node was busy may have grown old.
    window.start = std::max(window.start, now > kHistoryInUse ? now - kHistoryInUse : 0);
    if (window.start >= window.end) {
        Logger::warning("An utterance waited until the node no longer held its audio; skipped.");
        return;
    }
    // The node takes absolute indices as their low 32 bits and orders them
    // modulo 2^32, so streams longer than 2^31 samples (37 hours) go on.
    CVAnyMap request;
    request.set("start", static_cast<int>(static_cast<std::uint32_t>(window.start)));
    request.set("end", static_cast<int>(static_cast<std::uint32_t>(window.end)));
    const Result<CVAny> requested = node.callAction("transcribe", request);
    if (requested.hasError())
        throw CommandError(requested.getError().getMessage());
    inWork = Sent{window, Clock::now()};
}

void UtteranceDispatcher::print(const Transcription& transcription)
{
    const SpeechWindow& window = inWork->window;
    status.clearProgress();
    printer.print(source, shown(window, origin), transcription);
    if (settings.reportLatency && streamOrigin) {
        const auto heard = *streamOrigin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                               static_cast<double>(window.end) / Endpointer::kSampleRate));
        const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - heard);
        const WindowSchedule::Window times = shown(window, origin);
        Logger::info("Utterance ending at " + formatTimestamp(times.getEndSeconds()) + " printed " +
                     std::to_string(latency.count()) + " ms after its end (transcription took " +
                     std::to_string(transcription.processingTimeMs) + " ms)");
    }
}

void UtteranceDispatcher::noteClock(std::uint64_t now)
{
    if (!settings.reportLatency)
        return;
    const auto origin0 = Clock::now() - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                            static_cast<double>(now) / Endpointer::kSampleRate));
    if (!streamOrigin || origin0 < *streamOrigin)
        streamOrigin = origin0;
}

} // namespace corvane::cli
