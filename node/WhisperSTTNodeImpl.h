#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <whisper.h>

#include <corvane/audio/AudioBus.h>
#include <corvane/audio/AudioGraphResampler.h>

#include "DecodingSettings.h"
#include "PhraseGrammar.h"
#include "SampleRingBuffer.h"
#include "VoiceActivityDetector.h"
#include "WhisperSTTNode.h"

namespace corvane::extensions::whisper {

/// Frees a whisper.cpp context.
struct WhisperContextDeleter {
    void operator()(whisper_context* context) const noexcept { whisper_free(context); }
};

/// Everything a WhisperSTTNode keeps.
///
/// Who touches what:
///  - audio thread: resampler, history (sole writer), workerStarted, worker
///    (started once, by the first delivery);
///  - control thread: construction, initializeContext, the request fields and
///    lastCommittedSample (through the actions), stop();
///  - worker thread: workerLoop(), lastTranscription, runSamples;
///  - contextMutex guards context, voiceActivity, modelPath and params between
///    a model load and a transcription run; the request fields and counters
///    are atomics.
struct WhisperSTTNode::Impl {
    static constexpr int32_t kHistoryCapacity = 480000; ///< 30 s at 16 kHz
    static constexpr double kSampleRate = 16000.0;
    /// The ring stores two seconds more than it promises to keep. A run reads
    /// the sample counter, then copies its window oldest sample first; a host
    /// block delivered in between lands at once (8192 frames at 8 kHz are
    /// 16384 samples here) and must still fall short of the oldest retained
    /// sample, with about a second of real time to spare for the copy.
    static constexpr int32_t kRingMargin = 32000;

    Impl();
    /// Stops the worker if stop() was not called, then frees the context
    /// before anything else.
    ~Impl();

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // --- Model (control thread) ---

    /// Loads the model at `path` into a new context, replacing (and first
    /// freeing) any current one. Raises std::runtime_error("Failed to
    /// initialize WhisperSTTNode") when whisper.cpp cannot load it; the node
    /// then has no model. useVad also loads the Silero model at
    /// settings.vadModelPath, when it exists, so that runs transcribe only the
    /// speech in their windows. The context uses flash attention when
    /// settings.flashAttention says so.
    void initializeContext(const std::string& path, bool useGPU, bool useVad);
    /// Loads the Silero model for initializeContext, under its lock.
    void loadVoiceActivityModel();
    /// The path of the last load (or the default path), read under the lock.
    std::string currentModelPath();
    /// The voice-activity flag of the last load (or of the configuration).
    bool voiceActivityRequested();

    // --- Audio intake (audio thread) ---

    /// Resampler callback: appends 16 kHz audio to the history and starts the
    /// worker on the first delivery. Never locks (apart from starting the
    /// worker once), never throws.
    bool onResampledAudio(AudioBus& bus) noexcept;

    // --- Worker ---

    /// Asks the worker to finish and joins it; a run in progress completes
    /// first, with its delivery. Idempotent.
    void stop();
    void workerLoop();
    /// Serves the current request once (worker thread).
    void runTranscription();
    /// Text of `sampleCount` samples (padded to paddedCount) under the lock:
    /// empty without running the model when there is no signal or, with
    /// voice-activity detection, no speech. False when whisper.cpp fails.
    bool recognise(uint32_t sampleCount, uint32_t paddedCount, std::string& text);

    std::thread worker;
    std::unique_ptr<AudioGraphResampler> resampler;
    std::unique_ptr<SampleRingBuffer> history;
    std::atomic<uint32_t> transcribeStart{0};
    std::atomic<uint32_t> transcribeEnd{0};
    std::atomic<bool> transcribeRequested{false};
    whisper_full_params params{};
    int32_t reservedCoresForAudio = 0;
    bool suppressNonSpeechAnnotations = true;
    std::function<void(const std::string& text, int32_t processingTimeMs)> onTranscribed;
    PhraseGrammar grammar;
    bool workerStarted = false;
    std::mutex contextMutex;
    std::unique_ptr<whisper_context, WhisperContextDeleter> context;
    /// Loaded and freed with context; null when voice-activity detection is
    /// off or its model is missing.
    std::unique_ptr<VoiceActivityDetector> voiceActivity;
    std::atomic<bool> modelReady{false};
    std::string modelPath;
    std::atomic<uint64_t> lastCommittedSample{0};
    std::atomic<bool> stopRequested{false};
    const int32_t historyCapacity = kHistoryCapacity;
    DecodingSettings settings;
    std::string lastTranscription;
    /// The run's private copy of its window (worker thread). whisper.cpp reads
    /// this, not the ring, so the audio thread may go on writing meanwhile;
    /// short windows are padded with silence here rather than read on into
    /// whatever the ring holds after them.
    std::vector<float> runSamples;

    /// Absolute index of the next 16 kHz sample (samples ever received).
    uint64_t totalSamples() const noexcept { return history->totalSamples(); }
};

} // namespace corvane::extensions::whisper
