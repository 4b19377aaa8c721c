// The node's model loads, actions and every text it says. No audio goes through
// consume() here, so no worker runs: the tests see the posted requests as stored.

#include <algorithm>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "DamagedModelFiles.h"
#include "LogCapture.h"
#include "NodeTestSupport.h"
#include "WhisperSTTNodeTypeInfo.h"

namespace corvane::test {
namespace {

using Request = std::tuple<uint32_t, uint32_t, bool>; // start, end, pending

class NodeActions : public ::testing::Test {
protected:
    extensions::whisper::TranscriptionRequests& requests() { return node.transcriptionRequests(); }
    Request request() { return {requests().window().start, requests().window().end, requests().isPending()}; }

    /// Appends silence to the history without starting the worker.
    void receive(uint32_t samples) { node.audioIntake().ring().write(std::vector<float>(samples).data(), samples); }

    WhisperSTTNode node{testModelConfig()};
};

TEST_F(NodeActions, WindowsRunFromTheCommitPointAndBadOnesChangeNothing)
{
    const struct Step {
        const char* what;
        uint32_t receive;
        std::string action;
        CVAnyMap params;
        bool accepted;
        Request request; ///< pending is cleared before each step
        uint64_t commit;
    } steps[] = {
        {"no audio yet: a skip, not an error", 0, "transcribe", {}, true, {0, 0, false}, 0},
        {"default window", 1000, "transcribe", {}, true, {0, 1000, true}, 1000},
        {"no new audio", 0, "transcribe", {}, true, {0, 1000, false}, 1000},
        {"a lone start is ignored", 2500, "transcribe", {{"start", 100}}, true, {1000, 3500, true}, 3500},
        {"explicit window", 1500, "transcribe", {{"start", 100}, {"end", 4000}}, true, {100, 4000, true}, 4000},
        {"the next default starts at its end", 0, "transcribe", {}, true, {4000, 5000, true}, 5000},
        {"end past the newest sample", 0, "transcribe", {{"start", 0}, {"end", 90000}}, true, {0, 90000, true}, 90000},
        {"the next default pulls it back", 0, "transcribe", {}, true, {0, 90000, false}, 5000},
        {"end before start", 0, "transcribe", {{"start", 100}, {"end", 50}}, false, {0, 90000, false}, 5000},
        {"empty", 0, "transcribe", {{"start", 100}, {"end", 100}}, false, {0, 90000, false}, 5000},
        {"capped to the newest 30 s", 487000, "transcribe", {}, true, {12000, 492000, true}, 492000},
        {"reset moves only the commit point", 2000, "resetTranscribeWindow", {}, true, {12000, 492000, false}, 494000},
        {"nothing since the reset", 0, "transcribe", {}, true, {12000, 492000, false}, 494000},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        receive(step.receive);
        requests().drop();
        EXPECT_EQ(node.callAction(step.action, step.params).isOk(), step.accepted);
        EXPECT_EQ(request(), step.request);
        EXPECT_EQ(requests().commitPoint(), step.commit);
    }
    EXPECT_EQ(node.audioIntake().totalSamples(), 494000u) << "the history keeps its samples";
}

TEST_F(NodeActions, LoadModelReplacesOrDropsTheModelAndReportsIt)
{
    EventRecorder events(node);
    receive(1000);
    ASSERT_TRUE(node.callAction("transcribe", {{"start", 0}, {"end", 500}}).isOk());
    ASSERT_TRUE(node.callAction("transcribe", {{"start", 500}, {"end", 1000}}).isOk());
    EXPECT_EQ(events.named("transcriptionFailed").at(0).data,
              CVAny(CVAnyMap{{"error", "Superseded by a newer request before it ran"}, {"processingTime", 0},
                             {"start", 0}, {"end", 500}}));
    requests().drop();
    events.clear();
    receive(6000);
    requests().post({0, 7000}, 0); // a request aimed at the old model
    ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessBaseModel()}}).isOk());
    EXPECT_FALSE(requests().isPending()) << "the old model's request is dropped";
    EXPECT_EQ(events.named("transcriptionFailed").at(0).data,
              CVAny(CVAnyMap{{"error", "Dropped: the model was replaced before it ran"}, {"processingTime", 0},
                             {"start", 0}, {"end", 7000}}));
    EXPECT_EQ(requests().commitPoint(), 7000u);
    receive(3000);
    EXPECT_TRUE(node.callAction("loadModel", {{"modelPath", "/no/such/model.bin"}}).hasError());
    EXPECT_EQ(requests().commitPoint(), 7000u) << "a failed load does not move the commit point";
    EXPECT_TRUE(node.callAction("transcribe", {}).hasError()) << "the old model is gone too";
    ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
    EXPECT_EQ(events.named("modelLoaded").at(1).data, CVAny(CVAnyMap{{"modelPath", weightlessTinyModel()}}));
    EXPECT_EQ(events.named("modelLoadFailed").at(0).data,
              CVAny(CVAnyMap{{"modelPath", "/no/such/model.bin"}, {"error", "Failed to initialize WhisperSTTNode"}}));
}

// A model file is untrusted input: every damaged one gives the load's own
// failure with its reason, at construction and on "loadModel", and none
// reaches whisper.cpp to abort the process.
TEST(NodeModelLoading, ADamagedFileFailsTheLoadWithItsReason)
{
    const auto folder = std::filesystem::path(CORVANE_TEST_DATA_DIR) / "node-model-check";
    WhisperSTTNode node(testModelConfig({{"initializeModel", false}}));
    EventRecorder events(node);
    std::size_t failed = 0;
    for (const auto& damage : modelDamages()) {
        if (damage.accepted || damage.base == Missing)
            continue;
        SCOPED_TRACE(damage.name);
        const std::string path = damage.write(folder).string();
        LogCapture log;
        EXPECT_THROW(WhisperSTTNode(testModelConfig({{"modelPath", path}})), std::runtime_error);
        EXPECT_TRUE(node.callAction("loadModel", {{"modelPath", path}}).hasError());
        const auto rejected = log.texts("[WhisperSTTNode] Model file rejected: ");
        ASSERT_EQ(rejected.size(), 2u);
        EXPECT_NE(rejected[0].find(damage.says), std::string::npos) << rejected[0];
        EXPECT_EQ(events.named("modelLoadFailed").size(), ++failed);
    }
}

TEST(NodeModelLoading, TheVoiceActivityFlagHoldsForEveryLaterLoad)
{
    const std::string fakeVad = writeNotAModel("silero-stand-in.bin"); // only its existence matters
    for (const bool vad : {true, false}) {
        WhisperSTTNode node({{"initializeModel", false}, {"vad", vad}});
        useVadModel(node, fakeVad);
        LogCapture log;
        ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
        // Asked for, the stand-in is tried (and refused by whisper.cpp); not asked for, it is left alone.
        EXPECT_EQ(log.count("[WhisperSTTNode] Could not load the VAD model at " + fakeVad), vad ? 1u : 0u);
        EXPECT_FALSE(node.modelSlot().decodingParameters().vad) << "the node runs voice-activity detection itself";
    }
}

TEST(NodeModelLoading, ConcurrentLoadsLeaveAConsistentModel)
{
    WhisperSTTNode node({{"initializeModel", false}});
    const std::string tiny = weightlessTinyModel(), base = weightlessBaseModel();
    auto load = [&](const std::string& path) {
        auto options = node.modelSlot().options();
        options.modelPath = path;
        node.modelSlot().load(options);
    };
    std::thread first([&] { load(tiny); });
    std::thread second([&] { load(base); });
    first.join();
    second.join();
    // Whichever load ran last owns both the context and the path.
    const std::string path = node.modelSlot().options().modelPath;
    ASSERT_TRUE(path == tiny || path == base);
    EXPECT_EQ(whisper_model_n_audio_layer(node.modelSlot().beginRun().context()), path == tiny ? 4 : 6);
}

// The node type's description flattened to "path: value | value..." lines, a
// map of plain values on one line, values as CVAny writes them.
void describe(const std::string& path, const CVAnyMap& map, std::vector<std::string>& lines)
{
    std::string values;
    for (const auto& [key, value] : map) {
        if (value.isMap())
            describe(path + "." + key, value.asMap(), lines);
        else
            values += (values.empty() ? "" : " | ") + value.toString();
    }
    if (!values.empty())
        lines.push_back(path + ": " + values);
}

TEST(NodeTexts, EveryTextIsExact)
{
    const std::vector<std::string> table{
        R"(type: Whisper/STT "Whisper Speech-to-Text" Voice,AI)",
        R"(description: A speech-to-text node using the Whisper model.)",
        R"(actions.loadModel: "Loads a ggml Whisper model from an absolute file path. Emits modelLoaded or modelLoadFailed.")",
        R"(actions.loadModel.parameters.modelPath: "Absolute path to the .bin ggml model file." | false | "modelPath" | "string")",
        R"(actions.loadModel.parameters.useGPU: "Enable GPU (Metal) acceleration." | true | "useGPU" | "boolean")",
        R"(actions.resetTranscribeWindow: "Clears the input buffer and resets the since-last-transcribe window to 'now'. Call after routing audio to this node (e.g. after flipping a BusSwitch) so stale/silent audio is not transcribed.")",
        R"(actions.transcribe: "Triggers transcription of the current input buffer. When start/end are omitted, transcribes everything received since the previous transcribe call (capped to the 30 s window).")",
        R"(actions.transcribe.parameters.end: "End sample index for transcription (16 kHz, absolute). Optional: omit together with 'start'." | true | "end" | "int")",
        R"(actions.transcribe.parameters.start: "Start sample index for transcription (16 kHz, absolute). Optional: omit together with 'end' to transcribe since the last transcribe call." | true | "start" | "int")",
        R"(actions.endUtterance: "With autoTranscribe: ends the utterance under way as if the speaker had paused, so that it is transcribed. Call at the end of a stream.")",
        R"(actions.getProgress: "Returns how far the node has got, in 16 kHz sample indices: receivedSamples, examinedSamples (looked at for utterances), neededFrom (the oldest sample still to be transcribed; a host feeding faster than real time keeps receivedSamples - neededFrom under the 30 s history) and pendingUtterances (ended, not yet delivered).")",
        R"(configuration.language: "The spoken language as an ISO 639-1 code (\"de\", \"fr\", ...), or \"auto\" to detect it in each run. A model that speaks English only transcribes English whatever is asked. Default: en." | true | "language" | "string")",
        R"(configuration.translate: "Translate the speech into English (multilingual models only). Default: false." | true | "translate" | "boolean")",
        R"(events.transcribed.data.language: "With language \"auto\": the language detected (ISO 639-1)." | "language" | "string")",
        R"(events.transcribed.data.languageProbability: "With language \"auto\": how sure the detection is, from 0 to 1." | "languageProbability" | "float")",
        "[WhisperSTTNode] Unknown language: 'xx'; transcribing as en.",
        "[WhisperSTTNode] The model speaks English only; transcribing as en instead of 'de' without translation.",
        R"(configuration.autoTranscribe: "Find utterances in the audio and transcribe each once it ends (a pause of utterancePauseMs, or maxUtteranceSeconds of speech), emitting transcribed with its start and end. transcribe actions still work and come first. Default: false." | true | "autoTranscribe" | "boolean")",
        R"(configuration.maxUtteranceSeconds: "With autoTranscribe: the longest utterance, in seconds (1 to 30, the history); longer speech is cut at its quietest moment. Default: 20." | true | "maxUtteranceSeconds" | "float")",
        R"(configuration.partialIntervalMs: "With partialResults: milliseconds between interim runs of the same utterance (100 to 10000). Default: 1000." | true | "partialIntervalMs" | "int")",
        R"(configuration.partialResults: "With autoTranscribe: transcribe the utterance under way about every partialIntervalMs and emit partialTranscription, never delaying a final transcribed. Default: true." | true | "partialResults" | "boolean")",
        R"(events.partialTranscription: "Emitted with autoTranscribe and partialResults while an utterance is under way: interim text that its transcribed event replaces." | "partialTranscription")",
        R"(events.partialTranscription.data.end: "One past the last sample heard so far (16 kHz, absolute)." | "end" | "int")",
        R"(events.partialTranscription.data.processingTime: "Time taken for the interim run in milliseconds." | "processingTime" | "int")",
        R"(events.partialTranscription.data.stableText: "The leading words that two interim results in a row agreed on; it only grows within an utterance, and the utterance's final text is steered to begin with it." | "stableText" | "string")",
        R"(events.partialTranscription.data.start: "First sample of the utterance (16 kHz, absolute)." | "start" | "int")",
        R"(events.partialTranscription.data.text: "The interim text of the utterance so far, less its last word, which the audio may end inside." | "text" | "string")",
        R"(configuration.utterancePauseMs: "With autoTranscribe: the pause, in milliseconds, that ends an utterance (50 to 5000). Default: 300." | true | "utterancePauseMs" | "int")",
        R"(configuration.wordTimestamps: "Give each segment of transcribed its words (whisper's tokens joined at leading spaces; punctuation stays with its word), each with text, start, end and probability. Default: false." | true | "wordTimestamps" | "boolean")",
        R"(events.transcribed.data.segments: "The recognised segments, keyed by their zero-padded position (\"000\", \"001\", ...) so that the map iterates in order. Each has text (cleaned as text is), start and end (16 kHz sample indices, absolute; never in the silence that pads a short window), probability (the mean probability of its text tokens), noSpeechProbability and, with wordTimestamps, words, keyed the same way: text, start, end and probability of each word." | "segments" | "map")",
        R"(configuration.flashAttention: "Use flash attention in whisper.cpp for every model load, including loadModel. On a CPU it roughly halves the time of a run. Default: false." | true | "flashAttention" | "boolean")",
        R"(events.modelLoadFailed.data.error: "Failure reason." | "error" | "string")",
        R"(events.modelLoadFailed.data.modelPath: "Path of the model that failed." | "modelPath" | "string")",
        R"(events.modelLoadFailed: "Emitted when loading a model fails." | "modelLoadFailed")",
        R"(events.modelLoaded.data.modelPath: "Path of the loaded model." | "modelPath" | "string")",
        R"(events.modelLoaded: "Emitted when a model is loaded successfully." | "modelLoaded")",
        R"(events.transcribed.data.processingTime: "Time taken for transcription in milliseconds." | "processingTime" | "int")",
        R"(events.transcribed.data.text: "The transcribed text." | "text" | "string")",
        R"(events.transcribed.data.start: "First sample of the window transcribed (16 kHz, absolute)." | "start" | "int")",
        R"(events.transcribed.data.end: "One past the last sample of the window (16 kHz, absolute)." | "end" | "int")",
        "[WhisperSTTNode] maxUtteranceSeconds 45 is outside 1..30; using 30.",
        "[WhisperSTTNode] utterancePauseMs 0 is outside 50..5000; using 50.",
        R"(events.transcribed: "Emitted when transcription is completed." | "transcribed")",
        "[WhisperSTTNode] Unknown configuration key: Bogus",
        "[WhisperSTTNode] numberOfThreads 0 is below 1; using 1 thread.",
        "[WhisperSTTNode] No model loaded; call 'loadModel' first.",
        "Unknown action: Transcribe",
        "[WhisperSTTNode] modelPath does not exist: /no/such/model.bin",
        "[WhisperSTTNode] Initializing with GPU: ENABLED",
        "[WhisperSTTNode] Initializing with GPU: DISABLED",
        "[WhisperSTTNode] Initialized successfully",
        "[WhisperSTTNode] Running on the CPU: useGPU is false.",
        "[WhisperSTTNode] Running on the CPU: no usable GPU found.",
        "[WhisperSTTNode] VAD model not found at /no/such/silero.bin; transcribing without voice-activity detection.",
        "[WhisperSTTNode] Action 'transcribe': no new audio since last commit, skipping.",
        "[WhisperSTTNode] Action 'transcribe' called, start of samples: 100, end of samples: 50",
        "[WhisperSTTNode] Invalid transcribe window: 'end' (50) must be greater than 'start' (100).",
        "[WhisperSTTNode] Invalid value for 'useGPU'.",
        "[WhisperSTTNode] Error Initializing",
        "[WhisperSTTNode] loadModel failed: Failed to initialize WhisperSTTNode",
        "[WhisperSTTNode] Failed to load model: Failed to initialize WhisperSTTNode",
        "[WhisperSTTNode] Whisper STT only supports mono audio.",
        R"(events.transcriptionFailed: "Emitted instead of transcribed when a transcription request, or an utterance, could not be transcribed: every accepted request ends in one of the two." | "transcriptionFailed")",
        R"(events.transcriptionFailed.data.end: "One past the last sample of the window asked for (16 kHz, absolute)." | "end" | "int")",
        R"(events.transcriptionFailed.data.error: "What failed, then the library's own text." | "error" | "string")",
        R"(events.transcriptionFailed.data.processingTime: "Time spent before it failed, in milliseconds." | "processingTime" | "int")",
        R"(events.transcriptionFailed.data.start: "First sample of the window asked for (16 kHz, absolute)." | "start" | "int")",
        "[WhisperSTTNode] Model file rejected: not a ggml Whisper model (magic 0x73696874, expected 0x67676d6c)",
        "cannot convert string \"soon\" to int",
    };

    const NodeTypeInfo info = extensions::whisper::makeWhisperSTTNodeTypeInfo();
    std::vector<std::string> said{"type: " + info.getQualifiedName() + " \"" + info.displayName + "\" " +
                                      info.categories.at(0) + "," + info.categories.at(1),
                                  "description: " + info.description};
    describe("actions", info.actions, said);
    describe("configuration", info.configuration, said);
    describe("events", info.events, said);
    EXPECT_TRUE(info.properties.empty() && info.categories.size() == 2);
    const auto described = said.size();

    LogCapture log;
    auto error = [&](const Result<CVAny>& result) {
        if (result.hasError())
            said.push_back(result.getError().getMessage());
    };
    WhisperSTTNode bare({{"initializeModel", false}, {"numberOfThreads", 0}, {"Bogus", 1}, {"maxUtteranceSeconds", 45},
                         {"utterancePauseMs", 0}});
    EXPECT_EQ(bare.modelSlot().decodingParameters().n_threads, 1);
    error(bare.callAction("transcribe", {}));
    error(bare.callAction("Transcribe", {}));
    WhisperSTTNode({{"modelPath", "/no/such/model.bin"}});
    EXPECT_THROW(WhisperSTTNode(CVAnyMap{{"modelPath", writeNotAModel("not-a-model.bin")}}), std::runtime_error);
    WhisperSTTNode(CVAnyMap{{"modelPath", weightlessTinyModel()}, {"language", "xx"}});
    WhisperSTTNode(CVAnyMap{{"modelPath", weightlessTinyModel()}, {"language", "de"}, {"translate", true}});
    // Whatever a user has put in files/, this node's Silero model is missing.
    WhisperSTTNode node(testModelConfig({{"vad", true}, {"initializeModel", false}}));
    useVadModel(node, "/no/such/silero.bin");
    ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
    EXPECT_FALSE(node.modelSlot().decodingParameters().vad) << "without the Silero model";
    error(node.callAction("transcribe", {}));
    error(node.callAction("transcribe", {{"start", 100}, {"end", 50}}));
    try {
        node.callAction("transcribe", {{"start", "soon"}, {"end", 10}});
    } catch (const CVAnyConversionError& error) {
        said.push_back(error.what());
    }
    error(node.callAction("loadModel", {{"modelPath", "/no/such/model.bin"}, {"useGPU", "yes"}}));
    AudioBusFormat stereo{2, 48000.0};
    EXPECT_FALSE(node.setBusFormat(stereo));
    for (const std::string& line : log.texts())
        said.push_back(line);

    for (const std::string& text : table)
        EXPECT_NE(std::find(said.begin(), said.end(), text), said.end()) << text;
    for (std::size_t i = 0; i < described; ++i)
        EXPECT_NE(std::find(table.begin(), table.end(), said[i]), table.end()) << "not in the table: " << said[i];
}

} // namespace
} // namespace corvane::test
