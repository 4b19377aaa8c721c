#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <whisper.h>

#include "ComputeDevice.h"
#include "DecodingSettings.h"
#include "LanguageChoice.h"
#include "PhraseGrammar.h"
#include "PrefixSteering.h"
#include "SpeechTimeline.h"
#include "TokenTiming.h"
#include "Transcription.h"
#include "VoiceActivityDetector.h"

namespace corvane::extensions::whisper {

/// What a model load uses. The node keeps one set: construction fills it from
/// the configuration, and every load reads it, changes what it names (path,
/// GPU) and keeps the rest.
struct ModelOptions {
    std::string modelPath;       ///< the default model path until a load names another
    bool useGPU = true;
    bool flashAttention = false; ///< "flashAttention"
    bool useVad = false;         ///< also load the Silero model at vadModelPath
    std::string vadModelPath;    ///< the default Silero path
};

/// How one run asks for its text beyond the audio itself.
struct RecognitionOptions {
    /// Size the encoder's context to the audio alone, below the usual floor:
    /// cheaper, for interim text that a final run will replace.
    bool smallContext = false;
    /// At most this many tokens a segment, below the configured limit (0:
    /// the configured limit alone).
    int maxTokens = 0;
    /// Text the result is to begin with: words already shown as settled for
    /// this audio. The decoder is steered through it and goes on freely after
    /// it (PrefixSteering).
    std::string knownStart;
    /// Asked now and then during the run; true ends it early (a failed run).
    ggml_abort_callback abort = nullptr;
    void* abortData = nullptr;
};

/// Frees a whisper.cpp context.
struct WhisperContextDeleter {
    void operator()(whisper_context* context) const noexcept { whisper_free(context); }
};

/// The node's recogniser: the whisper.cpp context, the voice-activity model and
/// the decoding parameters, behind the node's one lock.
///
/// Threads: load() on the thread that constructs the node or calls
/// "loadModel"; a run holds a Run, and with it the lock, on the worker thread
/// for its whole recognition; options() and isReady() from any thread;
/// decodingParameters() and grammar() only while the node is being built.
class ModelSlot {
public:
    /// Runs are at most `longestWindow` samples long.
    explicit ModelSlot(uint32_t longestWindow);
    /// Frees the voice-activity model, then the context.
    ~ModelSlot();

    ModelSlot(const ModelSlot&) = delete;
    ModelSlot& operator=(const ModelSlot&) = delete;

    /// Replaces the models with the ones `options` names, freeing the current
    /// ones first so that two are never in memory at once, and keeps the
    /// options (also when the load fails). Raises std::runtime_error("Failed
    /// to initialize WhisperSTTNode") when whisper.cpp cannot load the model;
    /// the slot is then empty. A Silero model that is missing or will not load
    /// is logged, and runs go on without voice-activity detection. The model
    /// goes to the GPU when the options ask for one and it works, otherwise
    /// to the CPU (loadOnDevice). `onUnload` runs under the lock when this load frees a model, so that
    /// the caller can drop requests aimed at the old one; it belongs to this
    /// call, since two threads may load at once.
    void load(const ModelOptions& options, const std::function<void()>& onUnload = {});
    /// The kept options, read under the lock.
    ModelOptions options() const;
    /// Keeps options without loading (a node built without a model).
    void keepOptions(ModelOptions options);
    bool isReady() const noexcept { return ready.load(); }

    /// Construction only: the configuration writes these before any run.
    whisper_full_params& decodingParameters() noexcept { return params; }

    /// What a run calls to recognise: whisper_full, unless a test puts a
    /// stand-in here (one that takes its time, say) before any run.
    using FullRun = int (*)(whisper_context*, whisper_full_params, const float*, int);
    void setFullRun(FullRun run) noexcept { fullRun = run; }
    /// What a load creates the context with (a test's stand-in may fail on
    /// the GPU); set before any load.
    void setContextInit(ContextInit init) noexcept { contextInit = init; }
    PhraseGrammar& grammar() noexcept { return phraseGrammar; }
    LanguageChoice& language() noexcept { return languageChoice; }
    /// Whether results carry each segment's words ("wordTimestamps").
    bool& wordTimestamps() noexcept { return words; }

    /// One recognition, holding the lock from beginRun() until end() or its
    /// destruction. A load waits for it; another run cannot start meanwhile.
    class Run {
    public:
        bool hasModel() const noexcept { return slot.whisperContext != nullptr; }
        /// Text and segments of `sampleCount` samples (padded with silence
        /// to paddedCount), the segments' times as offsets from the first
        /// sample: empty, without running the model, when no sample reaches
        /// -60 dBFS or, with voice-activity detection, when there is no
        /// speech. False when whisper.cpp fails or the run was aborted.
        bool recognise(const float* samples, uint32_t sampleCount, uint32_t paddedCount,
                       const RecognitionOptions& options, Transcription& result);
        void end() { lock.unlock(); }
        /// What whisper.cpp said when recognise() last failed.
        const std::string& failure() const noexcept { return failed; }

        // What the run works with, for tests and benchmarks that look inside.
        whisper_context* context() const noexcept { return slot.whisperContext.get(); }
        const whisper_full_params& parameters() const noexcept { return slot.params; }
        bool detectsVoiceActivity() const noexcept { return slot.detector != nullptr; }
        /// The language the last recognise() detected ("auto"), or "".
        const std::string& detectedLanguage() const noexcept { return slot.languageChoice.detectedLanguage(); }
        float detectedLanguageProbability() const noexcept { return slot.languageChoice.detectedProbability(); }

    private:
        friend class ModelSlot;
        explicit Run(ModelSlot& slot) : slot(slot), lock(slot.mutex) {}

        ModelSlot& slot;
        std::unique_lock<std::mutex> lock;
        std::string failed;
    };
    Run beginRun() { return Run(*this); }

private:
    void loadVoiceActivityModel();

    const uint32_t longestWindow;
    mutable std::mutex mutex;
    ModelOptions kept;
    DecodingSettings settings;
    whisper_full_params params;
    PhraseGrammar phraseGrammar;
    LanguageChoice languageChoice;
    PrefixSteering steering;
    std::unique_ptr<whisper_context, WhisperContextDeleter> whisperContext;
    std::unique_ptr<VoiceActivityDetector> detector;
    FullRun fullRun = &whisper_full;
    bool words = false;
    /// A run's timeline without voice-activity detection: the window itself.
    SpeechTimeline wholeWindow;
    TokenTiming tokenTiming;
    ContextInit contextInit = &whisper_init_from_file_with_params;
    std::atomic<bool> ready{false};
};

} // namespace corvane::extensions::whisper
