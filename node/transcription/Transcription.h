#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::extensions::whisper {

/// One word of a segment, with "wordTimestamps": whisper.cpp's tokens joined
/// at their leading spaces, so punctuation stays with the word before it.
struct TranscribedWord {
    std::string text; ///< with the leading space whisper.cpp writes
    uint64_t start = 0;
    uint64_t end = 0;
    float probability = 0.0f; ///< the mean probability of its tokens
};

/// One segment as whisper.cpp recognised it, its times in the same absolute
/// 16 kHz sample indices as the window's, never inside the silence that pads
/// a short window.
struct TranscribedSegment {
    std::string text; ///< cleaned by the rule that cleans the whole text
    uint64_t start = 0;
    uint64_t end = 0;
    float probability = 0.0f;         ///< the mean probability of its text tokens
    float noSpeechProbability = 0.0f; ///< whisper.cpp's, for the decode that produced it
    std::vector<TranscribedWord> words; ///< empty unless "wordTimestamps"
};

/// One result of the node: the text of a window, where it was said and what
/// it took.
struct Transcription {
    std::string text;
    int32_t processingTimeMs = 0;
    /// The window transcribed, in absolute 16 kHz sample indices [start, end).
    uint64_t start = 0;
    uint64_t end = 0;
    std::vector<TranscribedSegment> segments;
    /// Whether the segments carry their words ("wordTimestamps").
    bool withWords = false;
    /// With "language" "auto": the language detected, and how sure of it.
    std::string language{};
    float languageProbability = 0.0f;
};

/// A request or an utterance that could not be transcribed.
struct TranscriptionFailure {
    /// What failed, in words, then the library's own text, e.g.
    /// "whisper.cpp failed to process the audio: whisper_full returned -6".
    std::string error;
    int32_t processingTimeMs = 0;
    /// The window asked for, in absolute 16 kHz sample indices [start, end).
    uint64_t start = 0;
    uint64_t end = 0;
};

/// Interim text of an utterance still under way, which its final
/// Transcription replaces.
struct PartialTranscription {
    std::string text;
    /// The leading words that two interim results in a row agreed on; it only
    /// grows within an utterance.
    std::string stableText;
    int32_t processingTimeMs = 0;
    uint64_t start = 0;
    uint64_t end = 0;
};

/// Moves segment and word times from offsets in a window to absolute indices,
/// the window starting at `windowStart`.
inline void placeSegmentsAt(uint64_t windowStart, std::vector<TranscribedSegment>& segments)
{
    for (TranscribedSegment& segment : segments) {
        segment.start += windowStart;
        segment.end += windowStart;
        for (TranscribedWord& word : segment.words) {
            word.start += windowStart;
            word.end += windowStart;
        }
    }
}

} // namespace corvane::extensions::whisper
