#include "NodeUtterances.h"

#include <corvane/core/Logger.h>

#include "CommandError.h"
#include "WhisperNodeFacts.h"

namespace corvane::cli {

namespace {

std::uint64_t count(const CVAnyMap& map, const char* key)
{
    return static_cast<std::uint64_t>(map.at(key).asInteger());
}

} // namespace

NodeUtterances::NodeUtterances(Node& node, TranscriptionQueue& events, TranscriptPrinter& printer,
                               StatusReporter& status, const Settings& settings)
    : node(node), events(events), printer(printer), status(status), settings(settings)
{
}

void NodeUtterances::beginSource(const std::string& name)
{
    source = name;
    origin = progress().received;
    sourceStarted = lastAnswer = Clock::now();
}

NodeUtterances::Progress NodeUtterances::progress() const
{
    const Result<CVAny> answer = node.callAction("getProgress", CVAnyMap{});
    if (answer.hasError())
        throw CommandError(answer.getError().getMessage());
    const CVAnyMap& map = answer.getValue().asMap();
    return {count(map, "receivedSamples"), count(map, "examinedSamples"), count(map, "neededFrom"),
            count(map, "pendingUtterances")};
}

void NodeUtterances::pump(std::chrono::milliseconds wait)
{
    if (std::optional<Transcription> arrived = events.pop(wait)) {
        print(*arrived);
        lastAnswer = Clock::now();
        return;
    }
    if (progress().pending == 0) {
        lastAnswer = Clock::now();
    } else if (Clock::now() - lastAnswer > settings.timeout) {
        throw TranscriptionTimeout("no text for " + source + " within " + std::to_string(settings.timeout.count()) +
                                   " ms of the last (see --timeout)");
    }
}

void NodeUtterances::drain()
{
    const Result<CVAny> ended = node.callAction("endUtterance", CVAnyMap{});
    if (ended.hasError())
        throw CommandError(ended.getError().getMessage());
    lastAnswer = Clock::now();
    while (progress().pending > 0)
        pump(std::chrono::milliseconds(5));
    // The last event may arrive just as the count drops.
    while (std::optional<Transcription> arrived = events.pop(std::chrono::milliseconds(0)))
        print(*arrived);
}

void NodeUtterances::print(const Transcription& transcription)
{
    const WindowSchedule::Window shown{transcription.start - std::min(origin, transcription.start),
                                       transcription.end - std::min(origin, transcription.end)};
    status.clearProgress();
    printer.print(source, shown, transcription);
    if (settings.reportLatency && transcription.final) {
        const auto spoken = sourceStarted + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(shown.getEndSeconds()));
        const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - spoken);
        Logger::info("Utterance ending at " + formatTimestamp(shown.getEndSeconds()) + " printed " +
                     std::to_string(latency.count()) + " ms after its end (transcription took " +
                     std::to_string(transcription.processingTimeMs) + " ms)");
    }
}

} // namespace corvane::cli
