#include "WhisperSTTNode.h"

#include <corvane/core/Logger.h>

#include "ModelLocation.h"
#include "WhisperSTTNodeImpl.h"
#include "WhisperSTTNodeTypeInfo.h"

namespace corvane::extensions::whisper {

namespace {

/// What construction does about the model, as the configuration says.
struct ModelOptions {
    bool initializeModel = true;
    bool useGPU = true;
    bool useVad = false;
    std::string modelPath;
};

void setThreadCount(whisper_full_params& params, int threads)
{
    if (threads < 1) {
        Logger::warning("[WhisperSTTNode] numberOfThreads " + std::to_string(threads) +
                        " is below 1; using 1 thread.");
        threads = 1;
    }
    params.n_threads = threads;
}

/// Applies the configuration keys in the map's (key) order. A value that does
/// not convert raises out of here and ends construction.
ModelOptions applyConfiguration(const CVAnyMap& config, WhisperSTTNode::Impl& state)
{
    ModelOptions options;
    whisper_full_params& params = state.params;

    for (const auto& [key, value] : config) {
        if (key == "initializeModel") {
            options.initializeModel = CVAny::convert<bool>(value);
        } else if (key == "useGPU") {
            options.useGPU = CVAny::convert<bool>(value);
        } else if (key == "vad") {
            options.useVad = CVAny::convert<bool>(value);
        } else if (key == "flashAttention") {
            state.settings.flashAttention = CVAny::convert<bool>(value);
        } else if (key == "modelPath") {
            options.modelPath = CVAny::convert<std::string>(value);
        } else if (key == "numberOfThreads") {
            setThreadCount(params, CVAny::convert<int>(value));
        } else if (key == "reservedCoresForAudio") {
            state.reservedCoresForAudio = CVAny::convert<int>(value);
        } else if (key == "singleSegment") {
            params.single_segment = CVAny::convert<bool>(value);
        } else if (key == "suppressNonSpeechTokens") {
            const bool suppress = CVAny::convert<bool>(value);
            params.suppress_nst = suppress;
            params.suppress_blank = suppress;
        } else if (key == "suppressNonSpeechAnnotations") {
            state.suppressNonSpeechAnnotations = CVAny::convert<bool>(value);
        } else if (key == "maxTokens") {
            params.max_tokens = CVAny::convert<int>(value);
        } else if (key == "noSpeechThreshold") {
            params.no_speech_thold = CVAny::convert<float>(value);
        } else if (key == "logProbThreshold") {
            params.logprob_thold = CVAny::convert<float>(value);
        } else if (key == "grammar") {
            state.grammar.build(parsePhraseList(CVAny::convert<std::string>(value)), params);
        } else {
            Logger::error("[WhisperSTTNode] Unknown configuration key: " + key);
        }
    }
    return options;
}

} // namespace

WhisperSTTNode::WhisperSTTNode(const CVAnyMap& config)
    : impl(std::make_unique<Impl>())
{
    impl->onTranscribed = [this](const std::string& text, int32_t processingTimeMs) {
        deliverTranscription(text, processingTimeMs);
    };

    for (const char* action : {"transcribe", "loadModel", "resetTranscribeWindow"})
        registerAction(action, makeWhisperSTTNodeTypeInfo().getAction(action), nullptr);
    for (const char* event : {"transcribed", "modelLoaded", "modelLoadFailed"})
        registerEvent(event, makeWhisperSTTNodeTypeInfo().getEvent(event));

    const ModelOptions options = applyConfiguration(config, *impl);
    // The voice-activity choice outlives construction: a later "loadModel"
    // keeps it, also when no model is loaded now.
    impl->settings.useVad = options.useVad;

    if (!options.initializeModel)
        return;

    if (options.modelPath.empty()) {
        const std::string defaultPath = impl->currentModelPath();
        if (pathExists(defaultPath))
            impl->initializeContext(defaultPath, options.useGPU, options.useVad);
        return;
    }

    if (!pathExists(options.modelPath)) {
        Logger::error("[WhisperSTTNode] modelPath does not exist: " + options.modelPath);
        return;
    }
    impl->initializeContext(options.modelPath, options.useGPU, options.useVad);
}

WhisperSTTNode::~WhisperSTTNode()
{
    if (impl)
        impl->stop();
    impl.reset();
}

bool WhisperSTTNode::setBusFormat(AudioBusFormat& format)
{
    if (format.numberOfChannels == 1)
        return true;
    Logger::error("[WhisperSTTNode] Whisper STT only supports mono audio.");
    return false;
}

bool WhisperSTTNode::consume(AudioBus& bus)
{
    AudioBusArray<1> input;
    AudioBusArray<0> output;
    input.getBus(0).setBuffer(bus.getBuffer());
    return impl->resampler->process(input, output);
}

void WhisperSTTNode::setTranscriptionCallback(TranscriptionCallback callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    transcriptionCallback = std::move(callback);
}

void WhisperSTTNode::deliverTranscription(const std::string& text, int32_t processingTimeMs)
{
    TranscriptionCallback callback;
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        callback = transcriptionCallback;
    }
    if (callback) {
        // The application's callback runs on our worker thread; what it
        // raises must not end that thread.
        try {
            callback(text, processingTimeMs);
        } catch (const std::exception& error) {
            Logger::error(std::string("[WhisperSTTNode] Transcription callback threw: ") + error.what());
        }
    }

    CVAnyMap data{
        {"text", text},
        {"processingTime", static_cast<long long>(processingTimeMs)},
    };
    Logger::debug("[WhisperSTTNode] Transcription: " + text + " (Processing time: " +
                  std::to_string(processingTimeMs) + " ms)");
    emitEvent("transcribed", CVAny(std::move(data)));
}

} // namespace corvane::extensions::whisper
