#pragma once

#include <cstdint>
#include <string>

namespace corvane::extensions::whisper {

/// One result of the node: the text of a window and what it took.
struct Transcription {
    std::string text;
    int32_t processingTimeMs = 0;
    /// The window transcribed, in absolute 16 kHz sample indices [start, end).
    uint64_t start = 0;
    uint64_t end = 0;
    /// With "language" "auto": the language detected, and how sure of it.
    std::string language;
    float languageProbability = 0.0f;
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

} // namespace corvane::extensions::whisper
