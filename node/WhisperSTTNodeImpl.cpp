#include "WhisperSTTNodeImpl.h"

#include <stdexcept>

#include <corvane/core/Logger.h>

#include "ModelLocation.h"
#include "TranscriptionWindow.h"

namespace corvane::extensions::whisper {

WhisperSTTNode::Impl::Impl()
{
    modelPath = defaultModelPath();
    settings.vadModelPath = defaultVadModelPath();

    history = std::make_unique<SampleRingBuffer>(static_cast<uint32_t>(historyCapacity + kRingMargin));
    runSamples.assign(static_cast<std::size_t>(historyCapacity), 0.0f);

    // 512: the largest block the resampler hands over at a time.
    resampler = std::make_unique<AudioGraphResampler>(kSampleRate, 512);
    resampler->setNumberOfBuses(1, 0);
    resampler->setProcessCallback(
        [this](AudioBusList& input, AudioBusList&) { return onResampledAudio(input.getBus(0)); });

    params = settings.makeRecognitionParams();
}

WhisperSTTNode::Impl::~Impl()
{
    stop();
    voiceActivity.reset();
    context.reset();
}

void WhisperSTTNode::Impl::initializeContext(const std::string& path, bool useGPU, bool useVad)
{
    whisper_context_params contextParams = whisper_context_default_params();
    contextParams.use_gpu = useGPU;
    contextParams.flash_attn = settings.flashAttention;

    Logger::info(std::string("[WhisperSTTNode] Initializing with GPU: ") + (useGPU ? "ENABLED" : "DISABLED"));

    std::lock_guard<std::mutex> lock(contextMutex);
    // The path is set under the lock so that two loads at once cannot mix
    // one's path with the other's context.
    modelPath = path;
    settings.useVad = useVad;

    if (context || voiceActivity) {
        // Free the old models before loading the new ones, so two are never
        // in memory at once; a request aimed at the old model is dropped.
        modelReady.exchange(false);
        transcribeRequested.exchange(false);
        voiceActivity.reset();
        context.reset();
    }

    context.reset(whisper_init_from_file_with_params(modelPath.c_str(), contextParams));
    if (!context) {
        Logger::error("[WhisperSTTNode] Error Initializing");
        throw std::runtime_error("Failed to initialize WhisperSTTNode");
    }
    if (useVad)
        loadVoiceActivityModel();

    modelReady.exchange(true);
    Logger::info("[WhisperSTTNode] Initialized successfully");
    Logger::info(std::string("[WhisperSTTNode] System info: ") + whisper_print_system_info());
}

void WhisperSTTNode::Impl::loadVoiceActivityModel()
{
    // Without the Silero model every run goes on without voice-activity
    // detection rather than failing.
    bool found = false;
    try {
        found = pathExists(settings.vadModelPath);
    } catch (const std::exception&) {
        found = false;
    }
    if (!found) {
        Logger::error("[WhisperSTTNode] VAD model not found at " + settings.vadModelPath +
                      "; transcribing without voice-activity detection.");
        return;
    }

    voiceActivity = VoiceActivityDetector::load(settings.vadModelPath, params.vad_params,
                                                static_cast<uint32_t>(historyCapacity));
    if (!voiceActivity)
        Logger::error("[WhisperSTTNode] Could not load the VAD model at " + settings.vadModelPath +
                      "; transcribing without voice-activity detection.");
}

std::string WhisperSTTNode::Impl::currentModelPath()
{
    std::lock_guard<std::mutex> lock(contextMutex);
    return modelPath;
}

bool WhisperSTTNode::Impl::voiceActivityRequested()
{
    std::lock_guard<std::mutex> lock(contextMutex);
    return settings.useVad;
}

bool WhisperSTTNode::Impl::onResampledAudio(AudioBus& bus) noexcept
{
    const AudioBuffer<float>& buffer = bus.getBuffer();
    const float* samples = buffer.getReadPointer(0);
    const uint32_t frames = buffer.getNumberOfFrames();
    if (samples != nullptr && frames > 0)
        history->write(samples, frames);

    if (!workerStarted) {
        workerStarted = true;
        stopRequested.exchange(false);
        // The one allocation the audio thread makes. A thread that cannot be
        // started must not reach the host's audio processing as an exception;
        // the node then keeps recording but never transcribes.
        try {
            worker = std::thread([this] { workerLoop(); });
        } catch (const std::exception& error) {
            Logger::error(std::string("[WhisperSTTNode] Could not start the transcription worker: ") + error.what());
        }
    }
    return true;
}

void WhisperSTTNode::Impl::stop()
{
    if (stopRequested.exchange(true))
        return;
    workerStarted = false;
    if (worker.joinable())
        worker.join();
    worker = std::thread();
}

} // namespace corvane::extensions::whisper
