#include "WhisperSTTNode.h"

#include <corvane/core/Logger.h>

#include "AudioIntake.h"
#include "ModelLocation.h"
#include "ModelSlot.h"
#include "NodeConfiguration.h"
#include "TranscriptionEvent.h"
#include "TranscriptionRequests.h"
#include "TranscriptionWorker.h"
#include "WhisperSTTNodeTypeInfo.h"

namespace corvane::extensions::whisper {

WhisperSTTNode::WhisperSTTNode(const CVAnyMap& config)
    : requests(std::make_unique<TranscriptionRequests>())
    , model(std::make_unique<ModelSlot>(AudioIntake::kHistoryCapacity))
    , intake(std::make_unique<AudioIntake>())
{
    for (const char* action : {"transcribe", "loadModel", "resetTranscribeWindow", "endUtterance", "getProgress"})
        registerAction(action, makeWhisperSTTNodeTypeInfo().getAction(action), nullptr);
    for (const char* event :
         {"transcribed", "modelLoaded", "modelLoadFailed", "partialTranscription", "transcriptionFailed"})
        registerEvent(event, makeWhisperSTTNodeTypeInfo().getEvent(event));

    const NodeConfiguration configuration = applyConfiguration(config, *model);
    TranscriptionWorker::Options workerOptions;
    workerOptions.cleanAnnotations = configuration.suppressNonSpeechAnnotations;
    workerOptions.utterances = configuration.utterances;
    TranscriptionWorker::Deliveries deliveries;
    deliveries.final = [this](const Transcription& result) { deliverTranscription(result); };
    deliveries.partial = [this](const PartialTranscription& result) { deliverPartial(result); };
    deliveries.failure = [this](const TranscriptionFailure& failure) { deliverFailure(failure); };
    worker = std::make_unique<TranscriptionWorker>(*intake, *model, *requests, workerOptions, std::move(deliveries));

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
    if (!callback) {
        setTranscriptionCallback(TranscriptionResultCallback());
        return;
    }
    setTranscriptionCallback(
        [callback = std::move(callback)](const Transcription& result) { callback(result.text, result.processingTimeMs); });
}

void WhisperSTTNode::setTranscriptionCallback(TranscriptionResultCallback callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    transcriptionCallback = std::move(callback);
}

void WhisperSTTNode::deliverFailure(const TranscriptionFailure& failure)
{
    emitEvent("transcriptionFailed", CVAny(CVAnyMap{
                                         {"error", failure.error},
                                         {"processingTime", static_cast<long long>(failure.processingTimeMs)},
                                         {"start", static_cast<long long>(failure.start)},
                                         {"end", static_cast<long long>(failure.end)},
                                     }));
}

void WhisperSTTNode::reportUnserved(const std::optional<TranscriptionRequests::Window>& window, const char* why)
{
    if (!window)
        return;
    const uint64_t total = intake->totalSamples();
    deliverFailure({why, 0, absoluteIndexNear(total, window->start), absoluteIndexNear(total, window->end)});
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
    TranscriptionResultCallback callback;
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        callback = transcriptionCallback;
    }
    if (callback) {
        // The application's callback runs on our worker thread; what it
        // raises must not end that thread.
        try {
            callback(result);
        } catch (const std::exception& error) {
            Logger::error(std::string("[WhisperSTTNode] Transcription callback threw: ") + error.what());
        }
    }

    Logger::debug("[WhisperSTTNode] Transcription: " + result.text + " (Processing time: " +
                  std::to_string(result.processingTimeMs) + " ms)");
    emitEvent("transcribed", CVAny(makeTranscribedEventData(result)));
}

} // namespace corvane::extensions::whisper
