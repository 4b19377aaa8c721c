#include "NodeConfiguration.h"

#include <corvane/core/Logger.h>

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

} // namespace

NodeConfiguration applyConfiguration(const CVAnyMap& config, ModelSlot& model)
{
    NodeConfiguration result;
    result.model = model.options();
    whisper_full_params& params = model.decodingParameters();

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
        } else if (key == "grammar") {
            model.grammar().build(parsePhraseList(CVAny::convert<std::string>(value)), params);
        } else {
            Logger::error("[WhisperSTTNode] Unknown configuration key: " + key);
        }
    }
    return result;
}

} // namespace corvane::extensions::whisper
