#include "TimedTranscript.h"

#include "TranscriptPrinter.h"

namespace corvane::cli {

TimedUtterance timeUtterance(const WindowSchedule::Window& window, const Transcription& transcription)
{
    // Node indices → source seconds, the event's window start standing at the
    // window's; nothing lies before the source's start.
    const auto seconds = [&](std::uint64_t index) {
        const double fromWindow = static_cast<double>(index) - static_cast<double>(transcription.start);
        return std::max(0.0, (static_cast<double>(window.start) + fromWindow) / kNodeSampleRate);
    };
    TimedUtterance timed{trimText(transcription.text), window.getStartSeconds(), window.getEndSeconds(),
                         transcription.processingTimeMs, {}, transcription.withWords};
    timed.language = transcription.language;
    timed.languageProbability = transcription.languageProbability;
    timed.stableText = trimText(transcription.stableText);
    for (const TranscribedSegment& segment : transcription.segments) {
        TimedSegment& shown = timed.segments.emplace_back(TimedSegment{trimText(segment.text), seconds(segment.start),
                                                                       seconds(segment.end), segment.probability,
                                                                       segment.noSpeechProbability, {}});
        for (const TranscribedWord& word : segment.words)
            shown.words.push_back({trimText(word.text), seconds(word.start), seconds(word.end), word.probability});
    }
    return timed;
}

} // namespace corvane::cli
