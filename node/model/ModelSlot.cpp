#include "ModelSlot.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <corvane/core/Logger.h>

#include "ComputeDevice.h"
#include "ModelLocation.h"
#include "RecognisedSegments.h"
#include "WhisperModelCheck.h"
#include "TranscriptionWindow.h"

namespace corvane::extensions::whisper {

namespace {

/// Loudest sample magnitude that still counts as no signal: -60 dBFS.
constexpr float kSilenceLevel = 0.001f;

bool hasSignal(const float* samples, uint32_t count)
{
    return std::any_of(samples, samples + count, [](float sample) { return std::fabs(sample) >= kSilenceLevel; });
}

} // namespace

ModelSlot::ModelSlot(uint32_t longestWindow)
    : longestWindow(longestWindow)
    , params(settings.makeRecognitionParams())
{
    kept.modelPath = defaultModelPath();
    kept.vadModelPath = defaultVadModelPath();
}

ModelSlot::~ModelSlot()
{
    detector.reset();
    whisperContext.reset();
}

void ModelSlot::load(const ModelOptions& options, const std::function<void()>& onUnload)
{
    whisper_context_params contextParams = whisper_context_default_params();
    contextParams.use_gpu = options.useGPU;
    contextParams.flash_attn = options.flashAttention;

    Logger::info(std::string("[WhisperSTTNode] Initializing with GPU: ") + (options.useGPU ? "ENABLED" : "DISABLED"));

    std::lock_guard<std::mutex> lock(mutex);
    // Kept under the lock so that two loads at once cannot mix one's options
    // with the other's context.
    kept = options;

    if (whisperContext || detector) {
        // Free the old models before loading the new ones, so two are never
        // in memory at once; a request aimed at the old model is dropped.
        ready.exchange(false);
        if (onUnload)
            onUnload();
        detector.reset();
        whisperContext.reset();
    }

    // whisper.cpp trusts the file it loads: a damaged one can abort the
    // process or leave a context whose every run fails. Nothing it would
    // refuse, or choke on, reaches it.
    const modelfile::ModelFileReport report = modelfile::checkWhisperModelFile(kept.modelPath);
    for (const std::string& warning : report.warnings)
        Logger::warning("[WhisperSTTNode] Model file: " + warning);
    if (!report.accepted())
        Logger::error("[WhisperSTTNode] Model file rejected: " + report.reason);
    else
        whisperContext.reset(loadOnDevice(kept.modelPath, contextParams, contextInit));
    if (!whisperContext) {
        Logger::error("[WhisperSTTNode] Error Initializing");
        throw std::runtime_error("Failed to initialize WhisperSTTNode");
    }
    languageChoice.useModel(whisperContext.get(), params);
    if (kept.useVad)
        loadVoiceActivityModel();

    ready.exchange(true);
    Logger::info("[WhisperSTTNode] Initialized successfully");
    Logger::info(std::string("[WhisperSTTNode] System info: ") + whisper_print_system_info());
}

void ModelSlot::loadVoiceActivityModel()
{
    // Without the Silero model every run goes on without voice-activity
    // detection rather than failing.
    bool found = false;
    try {
        found = pathExists(kept.vadModelPath);
    } catch (const std::exception&) {
        found = false;
    }
    if (!found) {
        Logger::error("[WhisperSTTNode] VAD model not found at " + kept.vadModelPath +
                      "; transcribing without voice-activity detection.");
        return;
    }

    detector = VoiceActivityDetector::load(kept.vadModelPath, params.vad_params, longestWindow);
    if (!detector)
        Logger::error("[WhisperSTTNode] Could not load the VAD model at " + kept.vadModelPath +
                      "; transcribing without voice-activity detection.");
}

ModelOptions ModelSlot::options() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return kept;
}

void ModelSlot::keepOptions(ModelOptions options)
{
    std::lock_guard<std::mutex> lock(mutex);
    kept = std::move(options);
}

bool ModelSlot::Run::recognise(const float* samples, uint32_t sampleCount, uint32_t paddedCount,
                               const RecognitionOptions& options, Transcription& result)
{
    result.text.clear();
    result.segments.clear();
    result.withWords = slot.words;
    // Whisper hallucinates words ("you") from digital silence; a window with
    // no signal at all has nothing to say.
    if (!hasSignal(samples, sampleCount)) {
        Logger::debug("[WhisperSTTNode] No signal in the window (below -60 dBFS); skipping recognition.");
        return true;
    }

    slot.wholeWindow.setWhole(sampleCount);
    const SpeechTimeline* timeline = &slot.wholeWindow;
    if (VoiceActivityDetector* detector = slot.detector.get()) {
        switch (detector->extractSpeech(samples, sampleCount, kMinimumRunSamples)) {
        case VoiceActivityDetector::Outcome::NoSpeech:
            Logger::debug("[WhisperSTTNode] No speech in the window; skipping recognition.");
            return true;
        case VoiceActivityDetector::Outcome::Speech:
            samples = detector->speech().data();
            paddedCount = static_cast<uint32_t>(detector->speech().size());
            timeline = &detector->timeline();
            Logger::debug("[WhisperSTTNode] Voice activity: " + std::to_string(detector->spanCount()) +
                          " speech segments, " + std::to_string(paddedCount) + " samples to transcribe.");
            break;
        case VoiceActivityDetector::Outcome::Failed:
            Logger::error("[WhisperSTTNode] Voice-activity detection failed; transcribing the whole window.");
            break;
        }
    }

    whisper_full_params& params = slot.params;
    params.audio_ctx = options.smallContext ? smallAudioContextFor(paddedCount) : audioContextFor(paddedCount);
    Logger::debug("[WhisperSTTNode] Final processing buffer size: " + std::to_string(paddedCount) +
                  " samples, audio_ctx=" + std::to_string(params.audio_ctx));

    whisper_context* context = slot.whisperContext.get();
    LanguageChoice& language = slot.languageChoice;
    if (language.detects() && !language.detect(context, params, samples, static_cast<int>(paddedCount)))
        Logger::warning("[WhisperSTTNode] Could not detect the language; whisper.cpp will try again.");
    params.abort_callback = options.abort;
    params.abort_callback_user_data = options.abortData;
    const int configuredTokens = params.max_tokens;
    if (options.maxTokens > 0 && (configuredTokens <= 0 || options.maxTokens < configuredTokens))
        params.max_tokens = options.maxTokens;
    if (slot.steering.steerThrough(context, options.knownStart)) {
        params.logits_filter_callback = &PrefixSteering::filter;
        params.logits_filter_callback_user_data = &slot.steering;
    }
    const int code = slot.fullRun(context, params, samples, static_cast<int>(paddedCount));
    params.logits_filter_callback = nullptr;
    params.logits_filter_callback_user_data = nullptr;
    slot.steering.clear();
    params.max_tokens = configuredTokens;
    language.restore(params);
    params.abort_callback = nullptr;
    params.abort_callback_user_data = nullptr;
    if (code != 0 && options.abort != nullptr && options.abort(options.abortData)) {
        Logger::debug("[WhisperSTTNode] Run given up for more urgent work.");
        return false;
    }
    if (code != 0) {
        failed = "whisper_full returned " + std::to_string(code);
        Logger::error("[WhisperSTTNode] Failed to process audio");
        return false;
    }

    slot.tokenTiming.time(context, samples, paddedCount, params.thold_pt, params.thold_ptsum);
    readSegments(context, slot.tokenTiming, *timeline, slot.words, result.segments);
    for (const TranscribedSegment& segment : result.segments)
        result.text += segment.text;
    return true;
}

} // namespace corvane::extensions::whisper
