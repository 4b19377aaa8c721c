#include "NodeConfiguration.h"

#include <algorithm>
#include <cmath>

#include <corvane/core/Logger.h>

#include "AudioIntake.h"

namespace corvane::extensions::whisper {

namespace {

void setThreadCount(whisper_full_params& params, int threads)
{
    if (threads < 1) {
        Logger::warning("[WhisperSTTNode] numberOfThreads " + std::to_string(threads) +
                        " is below 1; using 1 thread.");
        threads = 1;
    }
    params.n_threads = threads;
}

/// The value, or the nearest bound with an error line when it lies outside.
double withinRange(const std::string& key, double value, double lowest, double highest)
{
    if (value >= lowest && value <= highest)
        return value;
    const double used = std::isnan(value) ? lowest : std::clamp(value, lowest, highest);
    char line[160];
    std::snprintf(line, sizeof line, "[WhisperSTTNode] %s %g is outside %g..%g; using %g.", key.c_str(), value, lowest,
                  highest, used);
    Logger::error(line);
    return used;
}

uint64_t toSamples(double seconds)
{
    return static_cast<uint64_t>(std::llround(seconds * AudioIntake::kSampleRate));
}

} // namespace

NodeConfiguration applyConfiguration(const CVAnyMap& config, ModelSlot& model)
{
    NodeConfiguration result;
    result.model = model.options();
    whisper_full_params& params = model.decodingParameters();
    std::string language = "en";
    bool translate = false;

    for (const auto& [key, value] : config) {
        if (key == "initializeModel") {
            result.initializeModel = CVAny::convert<bool>(value);
        } else if (key == "useGPU") {
            result.model.useGPU = CVAny::convert<bool>(value);
        } else if (key == "vad") {
            result.model.useVad = CVAny::convert<bool>(value);
        } else if (key == "flashAttention") {
            result.model.flashAttention = CVAny::convert<bool>(value);
        } else if (key == "modelPath") {
            result.configuredModelPath = CVAny::convert<std::string>(value);
        } else if (key == "numberOfThreads") {
            setThreadCount(params, CVAny::convert<int>(value));
        } else if (key == "reservedCoresForAudio") {
            result.reservedCoresForAudio = CVAny::convert<int>(value);
        } else if (key == "singleSegment") {
            params.single_segment = CVAny::convert<bool>(value);
        } else if (key == "suppressNonSpeechTokens") {
            const bool suppress = CVAny::convert<bool>(value);
            params.suppress_nst = suppress;
            params.suppress_blank = suppress;
        } else if (key == "suppressNonSpeechAnnotations") {
            result.suppressNonSpeechAnnotations = CVAny::convert<bool>(value);
        } else if (key == "maxTokens") {
            params.max_tokens = CVAny::convert<int>(value);
        } else if (key == "noSpeechThreshold") {
            params.no_speech_thold = CVAny::convert<float>(value);
        } else if (key == "logProbThreshold") {
            params.logprob_thold = CVAny::convert<float>(value);
        } else if (key == "autoTranscribe") {
            result.utterances.enabled = CVAny::convert<bool>(value);
        } else if (key == "partialResults") {
            result.utterances.partials = CVAny::convert<bool>(value);
        } else if (key == "partialIntervalMs") {
            result.utterances.partialInterval =
                std::chrono::milliseconds(std::lround(withinRange(key, CVAny::convert<int>(value), 100, 10000)));
        } else if (key == "utterancePauseMs") {
            const double milliseconds = withinRange(key, CVAny::convert<int>(value), 50, 5000);
            result.utterances.pauseSamples = toSamples(milliseconds / 1000.0);
        } else if (key == "maxUtteranceSeconds") {
            constexpr double kHistorySeconds = AudioIntake::kHistoryCapacity / AudioIntake::kSampleRate;
            result.utterances.maxSamples = toSamples(withinRange(key, CVAny::convert<float>(value), 1, kHistorySeconds));
        } else if (key == "language") {
            language = CVAny::convert<std::string>(value);
        } else if (key == "translate") {
            translate = CVAny::convert<bool>(value);
        } else if (key == "grammar") {
            model.grammar().build(parsePhraseList(CVAny::convert<std::string>(value)), params);
        } else {
            Logger::error("[WhisperSTTNode] Unknown configuration key: " + key);
        }
    }
    model.language().configure(language, translate);
    return result;
}

} // namespace corvane::extensions::whisper
