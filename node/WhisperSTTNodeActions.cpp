// The node's actions: "transcribe" posts a request for the worker,
// "loadModel" loads on the caller's thread, "resetTranscribeWindow" moves the
// commit point. All run on the thread that calls actions.

#include <algorithm>

#include <corvane/core/Logger.h>

#include "AudioIntake.h"
#include "ModelSlot.h"
#include "TranscriptionRequests.h"
#include "TranscriptionWindow.h"
#include "TranscriptionWorker.h"
#include "WhisperSTTNode.h"

namespace corvane::extensions::whisper {

namespace {

Result<CVAny> success()
{
    return CVAny();
}

Result<CVAny> transcribeExplicitWindow(TranscriptionRequests& requests, uint64_t total, const CVAnyMap& params)
{
    const int start = CVAny::convert<int>(params.at("start"));
    const int end = CVAny::convert<int>(params.at("end"));
    Logger::debug("[WhisperSTTNode] Action 'transcribe' called, start of samples: " + std::to_string(start) +
                  ", end of samples: " + std::to_string(end));

    // The indices are the low 32 bits of absolute sample indices, so they are
    // ordered modulo 2^32: past 2^31 samples every current index reads as a
    // negative int, and a window may straddle a multiple of 2^32. Only the
    // window's length modulo 2^32 tells an empty window (0) or one whose end
    // comes before its start (2^31 or more); either is refused before
    // anything is stored, so the commit point stays put.
    const auto first = static_cast<uint32_t>(start);
    const auto last = static_cast<uint32_t>(end);
    const uint32_t length = last - first;
    if (length == 0 || length >= 0x80000000u)
        return Error("[WhisperSTTNode] Invalid transcribe window: 'end' (" + std::to_string(end) +
                     ") must be greater than 'start' (" + std::to_string(start) + ").");

    requests.post({first, last}, absoluteIndexNear(total, last));
    return success();
}

/// Everything since the commit point, at most the newest 30 s.
Result<CVAny> transcribeSinceLastCommit(TranscriptionRequests& requests, uint64_t total)
{
    const uint64_t commit = requests.commitPoint();
    const uint64_t capacity = AudioIntake::kHistoryCapacity;

    uint64_t start = commit;
    if (total > capacity)
        start = std::max(commit, total - capacity);

    requests.moveCommitPoint(total);
    if (total > start) {
        requests.post({static_cast<uint32_t>(start), static_cast<uint32_t>(total)}, total);
    } else {
        Logger::debug("[WhisperSTTNode] Action 'transcribe': no new audio since last commit, skipping.");
    }
    return success();
}

} // namespace

Result<CVAny> WhisperSTTNode::progress()
{
    const uint64_t received = intake->totalSamples();
    uint64_t examined = received, neededFrom = received, pending = 0;
    if (const UtteranceFinder* utterances = worker->utterances()) {
        examined = utterances->examined();
        neededFrom = utterances->neededFrom();
        // The end signal first: the worker queues the last utterance before
        // it settles the signal, so one of the two always shows it.
        const bool endAsked = requests->utteranceEnd().has_value();
        pending = utterances->pending() + (endAsked ? 1 : 0);
    }
    return CVAny(CVAnyMap{
        {"receivedSamples", static_cast<long long>(received)},
        {"examinedSamples", static_cast<long long>(examined)},
        {"neededFrom", static_cast<long long>(neededFrom)},
        {"pendingUtterances", static_cast<long long>(pending)},
    });
}

Result<CVAny> WhisperSTTNode::callAction(const std::string& name, const CVAnyMap& params)
{
    if (name == "transcribe") {
        if (!model->isReady())
            return Error("[WhisperSTTNode] No model loaded; call 'loadModel' first.");
        // A lone "start" or "end" is ignored: both or neither.
        if (params.hasKey("start") && params.hasKey("end"))
            return transcribeExplicitWindow(*requests, intake->totalSamples(), params);
        return transcribeSinceLastCommit(*requests, intake->totalSamples());
    }

    if (name == "loadModel") {
        const std::string path = CVAny::convert<std::string>(params.at("modelPath"));
        // The kept options name the GPU of the last load, but a "loadModel"
        // without "useGPU" has always meant the CPU.
        ModelOptions options = model->options();
        options.modelPath = path;
        options.useGPU = false;
        try {
            options.useGPU = params.get<bool>("useGPU", false);
        } catch (const std::invalid_argument&) {
            Logger::warning("[WhisperSTTNode] Invalid value for 'useGPU'.");
        }

        try {
            model->load(options);
            requests->moveCommitPoint(intake->totalSamples());
            emitEvent("modelLoaded", CVAny(CVAnyMap{{"modelPath", path}}));
            return success();
        } catch (const std::exception& error) {
            const std::string text = error.what();
            Logger::error("[WhisperSTTNode] loadModel failed: " + text);
            emitEvent("modelLoadFailed", CVAny(CVAnyMap{{"modelPath", path}, {"error", text}}));
            return Error("[WhisperSTTNode] Failed to load model: " + text);
        }
    }

    if (name == "resetTranscribeWindow") {
        const uint64_t now = intake->totalSamples();
        requests->moveCommitPoint(now);
        if (worker->utterances() != nullptr)
            requests->restartUtterancesAt(now);
        return success();
    }

    if (name == "endUtterance") {
        if (worker->utterances() != nullptr)
            requests->endUtteranceAt(intake->totalSamples());
        return success();
    }

    if (name == "getProgress")
        return progress();

    return SingleBusAudioSinkNode::callAction(name, params);
}

} // namespace corvane::extensions::whisper
