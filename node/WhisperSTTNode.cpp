#include "WhisperSTTNode.h"

#include <corvane/core/Logger.h>

#include "AudioIntake.h"
#include "ModelLocation.h"
#include "ModelSlot.h"
#include "NodeConfiguration.h"
#include "TranscriptionRequests.h"
#include "TranscriptionWorker.h"
#include "WhisperSTTNodeTypeInfo.h"

namespace corvane::extensions::whisper {

WhisperSTTNode::WhisperSTTNode(const CVAnyMap& config)
    : requests(std::make_unique<TranscriptionRequests>())
    , model(std::make_unique<ModelSlot>(AudioIntake::kHistoryCapacity, [this] { requests->drop(); }))
    , intake(std::make_unique<AudioIntake>())
{
    for (const char* action : {"transcribe", "loadModel", "resetTranscribeWindow", "endUtterance", "getProgress"})
        registerAction(action, makeWhisperSTTNodeTypeInfo().getAction(action), nullptr);
    for (const char* event : {"transcribed", "modelLoaded", "modelLoadFailed", "partialTranscription"})
        registerEvent(event, makeWhisperSTTNodeTypeInfo().getEvent(event));

    const NodeConfiguration configuration = applyConfiguration(config, *model);
    TranscriptionWorker::Options workerOptions;
    workerOptions.cleanAnnotations = configuration.suppressNonSpeechAnnotations;
    workerOptions.utterances = configuration.utterances;
    worker = std::make_unique<TranscriptionWorker>(
        *intake, *model, *requests, workerOptions, [this](const Transcription& result) { deliverTranscription(result); },
        [this](const PartialTranscription& result) { deliverPartial(result); });

    // The options outlive construction: a later "loadModel" keeps the
    // voice-activity and flash-attention choices, also when nothing loads now.
    model->keepOptions(configuration.model);
    if (configuration.initializeModel)
        loadConfiguredModel(configuration);
}

void WhisperSTTNode::loadConfiguredModel(const NodeConfiguration& configuration)
{
    ModelOptions options = configuration.model;
    if (configuration.configuredModelPath.empty()) {
        // The default model is optional: without it the node starts empty.
        if (pathExists(options.modelPath))
            model->load(options);
        return;
    }
    if (!pathExists(configuration.configuredModelPath)) {
        Logger::error("[WhisperSTTNode] modelPath does not exist: " + configuration.configuredModelPath);
        return;
    }
    options.modelPath = configuration.configuredModelPath;
    model->load(options);
}

WhisperSTTNode::~WhisperSTTNode()
{
    if (worker)
        worker->stop();
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
    const bool accepted = intake->consume(bus);
    if (intake->receivedAudio())
        worker->start();
    return accepted;
}

void WhisperSTTNode::setTranscriptionCallback(TranscriptionCallback callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    transcriptionCallback = std::move(callback);
}

void WhisperSTTNode::deliverPartial(const PartialTranscription& result)
{
    emitEvent("partialTranscription", CVAny(CVAnyMap{
                                          {"text", result.text},
                                          {"stableText", result.stableText},
                                          {"processingTime", static_cast<long long>(result.processingTimeMs)},
                                          {"start", static_cast<long long>(result.start)},
                                          {"end", static_cast<long long>(result.end)},
                                      }));
}

void WhisperSTTNode::deliverTranscription(const Transcription& result)
{
    const std::string& text = result.text;
    const int32_t processingTimeMs = result.processingTimeMs;
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
        {"start", static_cast<long long>(result.start)},
        {"end", static_cast<long long>(result.end)},
    };
    if (!result.language.empty()) {
        data.set("language", result.language);
        data.set("languageProbability", static_cast<double>(result.languageProbability));
    }
    Logger::debug("[WhisperSTTNode] Transcription: " + text + " (Processing time: " +
                  std::to_string(processingTimeMs) + " ms)");
    emitEvent("transcribed", CVAny(std::move(data)));
}

} // namespace corvane::extensions::whisper
