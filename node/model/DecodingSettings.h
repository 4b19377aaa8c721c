#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include <whisper.h>

namespace corvane::extensions::whisper {

/// The node's decoding defaults. They are copied once into the recognition
/// parameters when the node state is built; configuration keys then change
/// the parameters directly and leave these untouched.
struct DecodingSettings {
    int32_t threadCount = defaultThreadCount();
    int32_t maxTokens = 0;         ///< 0: no limit
    int32_t audioContext = 0;      ///< every run replaces it with one sized to its window
    bool singleSegment = false;
    bool translate = false;
    bool noFallback = true;        ///< no temperature fallback: one decode per run
    bool printSpecial = false;
    bool noTimestamps = false;
    bool tinydiarize = false;
    bool suppressNonSpeechTokens = true;
    bool blankSuppression = true;
    std::string language = "en";

    struct VadParams {
        float threshold = 0.5f;
        int32_t minSpeechDurationMs = 250;
        int32_t minSilenceDurationMs = 100;
        float maxSpeechDurationS = std::numeric_limits<float>::max();
        int32_t speechPadMs = 30;
        float samplesOverlap = 0.1f;
    } vadParams;

    /// Hardware threads, at most 4 (the rest stay with the host), at least 1.
    static int32_t defaultThreadCount();

    /// Greedy-decoding parameters with these settings applied. The result
    /// points into `language`, so the settings must outlive it and must not
    /// change that string afterwards. whisper.cpp's own voice-activity
    /// detection stays off: the node runs its own.
    whisper_full_params makeRecognitionParams() const;
};

} // namespace corvane::extensions::whisper
