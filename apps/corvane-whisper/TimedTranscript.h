#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TranscriptionQueue.h"
#include "WindowSchedule.h"

namespace corvane::cli {

/// What the outputs show of one "transcribed" event: times in seconds from
/// the start of the source, texts without whisper.cpp's leading space.
struct TimedWord {
    std::string text;
    double start = 0.0;
    double end = 0.0;
    double probability = 0.0;
};

struct TimedSegment {
    std::string text;
    double start = 0.0;
    double end = 0.0;
    double probability = 0.0;
    double noSpeechProbability = 0.0;
    std::vector<TimedWord> words;
};

struct TimedUtterance {
    std::string text;
    double start = 0.0; ///< the window's
    double end = 0.0;
    long long processingTimeMs = 0;
    std::vector<TimedSegment> segments;
    bool withWords = false;
    std::string language{}; ///< the detected one, with --language auto
    double languageProbability = 0.0;
    /// Said only where interim text is shown, finals included.
    std::optional<bool> final{};
    std::string stableText{}; ///< of interim text
};

/// The event told on the source's timeline: `window` is where the event's
/// own window (transcription.start, .end) lies in the source.
TimedUtterance timeUtterance(const WindowSchedule::Window& window, const Transcription& transcription);

} // namespace corvane::cli
