#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <corvane/graph/SingleBusAudioSinkNode.h>

namespace corvane::extensions::whisper {

class AudioIntake;
class ModelSlot;
class TranscriptionRequests;
class TranscriptionWorker;
struct NodeConfiguration;
struct Transcription;
struct PartialTranscription;

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
///   "maxTokens"        int    0      tokens per segment, 0 = no limit
///   "noSpeechThreshold" float whisper.cpp's default
///   "logProbThreshold" float  whisper.cpp's default
///   "grammar"          string        comma-separated phrases to restrict
///                                    recognition to
/// A value that does not convert to its key's type, or a model file that
/// whisper.cpp cannot load, makes construction raise.
class WhisperSTTNode : public SingleBusAudioSinkNode {
public:
    /// Text and processing time in milliseconds of one transcription run.
    using TranscriptionCallback = std::function<void(const std::string& text, int32_t processingTimeMs)>;

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
    /// event. May be set at any time; an empty callback removes it.
    void setTranscriptionCallback(TranscriptionCallback callback);

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

    std::mutex callbackMutex;
    TranscriptionCallback transcriptionCallback;
    // Built in this order and taken down in reverse: the worker, which uses
    // the others, goes first.
    std::unique_ptr<TranscriptionRequests> requests;
    std::unique_ptr<ModelSlot> model;
    std::unique_ptr<AudioIntake> intake;
    std::unique_ptr<TranscriptionWorker> worker;
};

} // namespace corvane::extensions::whisper
