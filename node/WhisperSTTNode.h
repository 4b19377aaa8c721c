#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <corvane/graph/SingleBusAudioSinkNode.h>

#include "TranscriptionRequests.h"
#include "Transcription.h"

namespace corvane::extensions::whisper {

class AudioIntake;
class ModelSlot;
class TranscriptionWorker;
struct NodeConfiguration;

/// An audio sink that keeps the newest 30 s of its mono input at 16 kHz and,
/// on request, transcribes a window of it with whisper.cpp on a worker thread
/// of its own, then emits the text as the event "transcribed".
///
/// Threads: the host's audio thread calls consume(); the control thread
/// constructs and destroys the node, negotiates formats and calls actions
/// ("transcribe" only posts a request; "loadModel" loads on the caller's
/// thread); the node's worker thread runs whisper.cpp and emits
/// "transcribed". Only a model load and a transcription run share a lock;
/// consume() never takes it.
///
/// The node composes four parts, each with one owner: the AudioIntake
/// (audio thread: resampler and sample history), the TranscriptionRequests
/// (the actions' mailbox to the worker), the ModelSlot (whisper.cpp behind
/// the node's lock) and the TranscriptionWorker (its own thread).
///
/// Configuration keys (all optional):
///   "initializeModel"  bool   true   load a model during construction
///   "useGPU"           bool   true   ask whisper.cpp for a GPU backend
///   "vad"              bool   false  voice-activity detection with the Silero
///                                    model at the default VAD path: runs
///                                    transcribe only the speech they find
///   "flashAttention"   bool   false  flash attention in every model load
///                                    ("loadModel" too); much faster on CPU
///   "modelPath"        string        model file instead of the default path
///   "numberOfThreads"  int    min(hardware threads, 4); below 1 means 1
///   "reservedCoresForAudio" int 0    stored only
///   "singleSegment"    bool   false
///   "suppressNonSpeechTokens" bool true  suppress non-speech and blank tokens
///   "suppressNonSpeechAnnotations" bool true  strip "[Music]", "(laughs)", ...
///   "wordTimestamps"   bool   false  each segment of "transcribed" also
///                                    carries its words and their times
///   "maxTokens"        int    0      tokens per segment, 0 = no limit
///   "noSpeechThreshold" float whisper.cpp's default
///   "logProbThreshold" float  whisper.cpp's default
///   "grammar"          string        comma-separated phrases to restrict
///                                    recognition to
///   "language"         string "en"   ISO 639-1 code, or "auto" to detect it
///                                    in each run (multilingual models)
///   "translate"        bool   false  translate into English
///   "autoTranscribe"   bool   false  find utterances and transcribe each
///                                    once it ends
///   "utterancePauseMs" int    300    the pause that ends an utterance
///   "maxUtteranceSeconds" float 20   the longest utterance (at most 30)
///   "partialResults"   bool   true   interim text of the utterance under way
///                                    ("partialTranscription")
///   "partialIntervalMs" int   1000   between interim runs
/// A value that does not convert to its key's type, or a model file that
/// whisper.cpp cannot load, makes construction raise.
class WhisperSTTNode : public SingleBusAudioSinkNode {
public:
    /// Text and processing time in milliseconds of one transcription run.
    using TranscriptionCallback = std::function<void(const std::string& text, int32_t processingTimeMs)>;
    /// The whole result of one run: what the "transcribed" event carries, as
    /// plain structs.
    using TranscriptionResultCallback = std::function<void(const Transcription& result)>;

    explicit WhisperSTTNode(const CVAnyMap& config);
    /// Waits for a transcription run in progress (and its event) to finish.
    /// Must not be called on the worker thread, i.e. not from a "transcribed"
    /// listener.
    ~WhisperSTTNode() override;

    WhisperSTTNode(const WhisperSTTNode&) = delete;
    WhisperSTTNode& operator=(const WhisperSTTNode&) = delete;

    /// "transcribe", "loadModel", "resetTranscribeWindow"; other names go to
    /// the base class.
    Result<CVAny> callAction(const std::string& name, const CVAnyMap& params) override;

    /// Accepts mono input at any rate; refuses anything else.
    bool setBusFormat(AudioBusFormat& format) override;
    /// Audio thread: resamples the block to 16 kHz and appends it to the
    /// history. Never locks, never allocates after the first block, never
    /// throws.
    bool consume(AudioBus& bus) override;
    using SingleBusAudioSinkNode::consume;

    /// Receives every result on the worker thread, before the "transcribed"
    /// event. May be set at any time; either kind replaces the other, and an
    /// empty callback removes it.
    void setTranscriptionCallback(TranscriptionCallback callback);
    void setTranscriptionCallback(TranscriptionResultCallback callback);

    // The node's parts, for tests and benchmarks inside this library.
    AudioIntake& audioIntake() noexcept { return *intake; }
    ModelSlot& modelSlot() noexcept { return *model; }
    TranscriptionRequests& transcriptionRequests() noexcept { return *requests; }
    TranscriptionWorker& transcriptionWorker() noexcept { return *worker; }

private:
    void loadConfiguredModel(const NodeConfiguration& configuration);
    Result<CVAny> progress();
    void deliverTranscription(const Transcription& result);
    void deliverPartial(const PartialTranscription& result);
    void deliverFailure(const TranscriptionFailure& failure);
    /// A request that will not run after all ends in "transcriptionFailed".
    void reportUnserved(const std::optional<TranscriptionRequests::Window>& window, const char* why);

    std::mutex callbackMutex;
    TranscriptionResultCallback transcriptionCallback;
    // Built in this order and taken down in reverse: the worker, which uses
    // the others, goes first.
    std::unique_ptr<TranscriptionRequests> requests;
    std::unique_ptr<ModelSlot> model;
    std::unique_ptr<AudioIntake> intake;
    std::unique_ptr<TranscriptionWorker> worker;
};

} // namespace corvane::extensions::whisper
