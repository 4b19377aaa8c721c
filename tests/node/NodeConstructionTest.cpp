// Building a node from its configuration, loading its model, and where it
// looks for models by default.

#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "ModelLocation.h"
#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using extensions::whisper::DecodingSettings;

const CVAnyMap kNoModel{{"initializeModel", false}};

TEST(NodeConfiguration, DefaultsReachTheRecognitionParameters)
{
    WhisperSTTNode node(kNoModel);
    const whisper_full_params& params = node.getImpl().params;
    const whisper_full_params library = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);

    EXPECT_EQ(params.strategy, WHISPER_SAMPLING_GREEDY);
    EXPECT_EQ(params.n_threads, std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4));
    EXPECT_EQ(params.n_max_text_ctx, 0);
    EXPECT_EQ(params.max_tokens, 0);
    EXPECT_EQ(params.audio_ctx, 0);
    EXPECT_FALSE(params.translate);
    EXPECT_FALSE(params.no_timestamps);
    EXPECT_TRUE(params.print_timestamps);
    EXPECT_FALSE(params.single_segment);
    EXPECT_FALSE(params.print_special);
    EXPECT_FALSE(params.print_progress);
    EXPECT_FALSE(params.print_realtime);
    EXPECT_FALSE(params.tdrz_enable);
    EXPECT_TRUE(params.suppress_blank);
    EXPECT_TRUE(params.suppress_nst);
    EXPECT_EQ(params.temperature_inc, 0.0f);
    EXPECT_EQ(params.prompt_tokens, nullptr);
    EXPECT_EQ(params.prompt_n_tokens, 0);
    EXPECT_STREQ(params.language, "en");
    EXPECT_EQ(params.logprob_thold, library.logprob_thold);
    EXPECT_EQ(params.no_speech_thold, library.no_speech_thold);
    EXPECT_EQ(params.grammar_rules, nullptr);
    EXPECT_EQ(params.n_grammar_rules, 0u);

    EXPECT_FALSE(params.vad);
    EXPECT_EQ(std::string(params.vad_model_path), node.getImpl().settings.vadModelPath);
    EXPECT_EQ(params.vad_params.threshold, 0.5f);
    EXPECT_EQ(params.vad_params.min_speech_duration_ms, 250);
    EXPECT_EQ(params.vad_params.min_silence_duration_ms, 100);
    EXPECT_EQ(params.vad_params.max_speech_duration_s, std::numeric_limits<float>::max());
    EXPECT_EQ(params.vad_params.speech_pad_ms, 30);
    EXPECT_EQ(params.vad_params.samples_overlap, 0.1f);

    EXPECT_TRUE(node.getImpl().suppressNonSpeechAnnotations);
    EXPECT_EQ(node.getImpl().reservedCoresForAudio, 0);
    EXPECT_FALSE(node.getImpl().modelReady.load());
    EXPECT_EQ(node.getImpl().totalSamples(), 0u);
}

TEST(NodeConfiguration, KeysReachTheirParameters)
{
    WhisperSTTNode node({{"initializeModel", false},
                         {"numberOfThreads", 3},
                         {"reservedCoresForAudio", 2},
                         {"singleSegment", true},
                         {"suppressNonSpeechTokens", false},
                         {"suppressNonSpeechAnnotations", false},
                         {"maxTokens", 5},
                         {"noSpeechThreshold", 0.25},
                         {"logProbThreshold", -0.5},
                         {"grammar", "Yes, no"}});
    const auto& state = node.getImpl();
    EXPECT_EQ(state.params.n_threads, 3);
    EXPECT_EQ(state.reservedCoresForAudio, 2);
    EXPECT_TRUE(state.params.single_segment);
    EXPECT_FALSE(state.params.suppress_nst);
    EXPECT_FALSE(state.params.suppress_blank);
    EXPECT_FALSE(state.suppressNonSpeechAnnotations);
    EXPECT_EQ(state.params.max_tokens, 5);
    EXPECT_EQ(state.params.n_max_text_ctx, 0);
    EXPECT_FLOAT_EQ(state.params.no_speech_thold, 0.25f);
    EXPECT_FLOAT_EQ(state.params.logprob_thold, -0.5f);
    EXPECT_EQ(state.params.n_grammar_rules, 2u);
    EXPECT_EQ(state.params.i_start_rule, 0u);
    EXPECT_EQ(state.params.grammar_penalty, 100.0f);
}

TEST(NodeConfiguration, ThreadCountBelowOneRunsOneThreadWithAWarning)
{
    for (int threads : {0, -3}) {
        LogCapture log;
        WhisperSTTNode node({{"initializeModel", false}, {"numberOfThreads", threads}});
        EXPECT_EQ(node.getImpl().params.n_threads, 1);
        EXPECT_EQ(log.count("[WhisperSTTNode] numberOfThreads"), 1u);
        EXPECT_EQ(log.lines().at(0).level, LogLevel::Warning);
    }
}

TEST(NodeConfiguration, UnknownKeysAreLoggedOneLineEachInKeyOrder)
{
    LogCapture log;
    WhisperSTTNode node({{"zeta", 1}, {"initializeModel", false}, {"modelpath", "/x"}, {"Alpha", true}});
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "[WhisperSTTNode] Unknown configuration key: Alpha",
                               "[WhisperSTTNode] Unknown configuration key: modelpath",
                               "[WhisperSTTNode] Unknown configuration key: zeta",
                           }));
    for (const auto& line : log.lines())
        EXPECT_EQ(line.level, LogLevel::Error);
}

TEST(NodeConfiguration, AValueThatDoesNotConvertMakesNoNode)
{
    EXPECT_THROW(WhisperSTTNode({{"initializeModel", "perhaps"}}), std::exception);
    EXPECT_THROW(WhisperSTTNode({{"initializeModel", false}, {"numberOfThreads", "many"}}), std::exception);
    EXPECT_THROW(WhisperSTTNode({{"initializeModel", false}, {"numberOfThreads", 1e12}}), std::exception);
    EXPECT_THROW(WhisperSTTNode({{"initializeModel", false}, {"maxTokens", CVAnyMap{}}}), std::exception);
}

TEST(NodeConfiguration, NotInitialisingIgnoresTheModelPathSilently)
{
    LogCapture log;
    WhisperSTTNode node({{"initializeModel", false}, {"modelPath", "/no/such/model.bin"}});
    EXPECT_TRUE(log.lines().empty());
    EXPECT_FALSE(node.getImpl().modelReady.load());
    EXPECT_EQ(node.getImpl().currentModelPath(), extensions::whisper::defaultModelPath());
}

TEST(NodeModelLoading, AMissingConfiguredPathIsLoggedAndTheNodeHasNoModel)
{
    LogCapture log;
    WhisperSTTNode node({{"modelPath", "/no/such/model.bin"}});
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"[WhisperSTTNode] modelPath does not exist: /no/such/model.bin"}));
    EXPECT_FALSE(node.getImpl().modelReady.load());
    EXPECT_EQ(node.getImpl().context, nullptr);
    // The default model is not tried instead.
    EXPECT_EQ(node.getImpl().currentModelPath(), extensions::whisper::defaultModelPath());
}

void expectLoadsWithThreeLines(const std::string& modelPath)
{
    LogCapture log;
    WhisperSTTNode node(CVAnyMap{{"modelPath", modelPath}, {"useGPU", false}});
    EXPECT_TRUE(node.getImpl().modelReady.load());
    EXPECT_NE(node.getImpl().context, nullptr);
    EXPECT_EQ(node.getImpl().currentModelPath(), modelPath);

    const auto lines = log.texts("[WhisperSTTNode] ");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[WhisperSTTNode] Initializing with GPU: DISABLED");
    EXPECT_EQ(lines[1], "[WhisperSTTNode] Initialized successfully");
    EXPECT_EQ(lines[2].rfind("[WhisperSTTNode] System info: ", 0), 0u);
    EXPECT_GT(lines[2].size(), std::string("[WhisperSTTNode] System info: ").size());
}

TEST(NodeModelLoading, LoadsTheProjectsWeightlessModel)
{
    expectLoadsWithThreeLines(weightlessTinyModel());
}

TEST(NodeModelLoading, LoadsWhisperCppsOwnTestModelWhenPresent)
{
    const std::string shared = sharedFile("models/for-tests-ggml-tiny.en.bin");
    if (shared.empty())
        GTEST_SKIP() << "../shared/models/for-tests-ggml-tiny.en.bin is not present";
    expectLoadsWithThreeLines(shared);
}

TEST(NodeModelLoading, AFileThatIsNotAModelMakesNoNode)
{
    LogCapture log;
    const std::string path = writeNotAModel("not-a-model.bin");
    try {
        WhisperSTTNode node(CVAnyMap{{"modelPath", path}, {"useGPU", false}});
        FAIL() << "construction should raise";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Failed to initialize WhisperSTTNode");
    }
    EXPECT_TRUE(log.contains("[WhisperSTTNode] Error Initializing"));
}

TEST(NodeModelLoading, GpuFlagIsReportedInTheLog)
{
    LogCapture log;
    WhisperSTTNode node(CVAnyMap{{"modelPath", weightlessTinyModel()}});
    EXPECT_TRUE(log.contains("[WhisperSTTNode] Initializing with GPU: ENABLED"));
}

TEST(NodeModelLoading, ConcurrentLoadsLeaveAConsistentModel)
{
    WhisperSTTNode node(kNoModel);
    const std::string tiny = weightlessTinyModel();
    const std::string base = weightlessBaseModel();
    std::thread first([&] { node.getImpl().initializeContext(tiny, false, false); });
    std::thread second([&] { node.getImpl().initializeContext(base, false, false); });
    first.join();
    second.join();

    // Whichever load ran last owns both the context and the path.
    const std::string path = node.getImpl().currentModelPath();
    ASSERT_TRUE(path == tiny || path == base);
    EXPECT_TRUE(node.getImpl().modelReady.load());
    const int audioLayers = whisper_model_n_audio_layer(node.getImpl().context.get());
    EXPECT_EQ(audioLayers, path == tiny ? 4 : 6);
}

TEST(NodeVoiceActivity, WithoutTheSileroModelTheNodeSaysSoAndRunsWithoutIt)
{
    LogCapture log;
    WhisperSTTNode node(testModelConfig({{"vad", true}}));
    const std::string vadPath = node.getImpl().settings.vadModelPath;
    ASSERT_FALSE(fs::exists(vadPath)) << "a Silero model is installed at " << vadPath;
    EXPECT_TRUE(log.contains("[WhisperSTTNode] VAD model not found at " + vadPath +
                             "; transcribing without voice-activity detection."));
    EXPECT_FALSE(node.getImpl().params.vad);
    EXPECT_TRUE(node.getImpl().modelReady.load());
}

TEST(NodeVoiceActivity, TheConfiguredFlagHoldsForEveryLaterLoad)
{
    WhisperSTTNode node({{"initializeModel", false}, {"vad", true}});
    auto& state = node.getImpl();
    EXPECT_FALSE(state.params.vad) << "no model, no run yet";

    // Stand in a Silero model file; only its existence matters here.
    const std::string fakeVad = writeNotAModel("silero-stand-in.bin");
    state.settings.vadModelPath = fakeVad;
    state.params.vad_model_path = state.settings.vadModelPath.c_str();

    ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
    EXPECT_FALSE(state.params.vad) << "the node finds speech itself, whisper.cpp must not";
    EXPECT_STREQ(state.params.vad_model_path, fakeVad.c_str());

    WhisperSTTNode withoutVad({{"initializeModel", false}});
    withoutVad.getImpl().settings.vadModelPath = fakeVad;
    ASSERT_TRUE(withoutVad.callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
    EXPECT_FALSE(withoutVad.getImpl().params.vad);
}

TEST(DefaultModelLocation, ExecutableDirectoryEndsAtTheLastSeparatorOfEitherKind)
{
    using extensions::whisper::directoryOfExecutablePath;
    EXPECT_EQ(directoryOfExecutablePath("/opt/app/bin/host"), fs::path("/opt/app/bin"));
    EXPECT_EQ(directoryOfExecutablePath("C:\\Apps\\Host\\host.exe"), fs::path("C:\\Apps\\Host"));
    EXPECT_EQ(directoryOfExecutablePath("C:\\Apps/mixed\\host"), fs::path("C:\\Apps/mixed"));
    EXPECT_EQ(directoryOfExecutablePath("host"), fs::path());
    EXPECT_EQ(directoryOfExecutablePath(""), fs::path());

    EXPECT_EQ(extensions::whisper::executableDirectory(), fs::canonical("/proc/self/exe").parent_path());
}

TEST(DefaultModelLocation, PrefersTheFileNextToTheExecutableElseTheBuildTreeFolder)
{
    using extensions::whisper::defaultFilePath;
    const fs::path folder = fs::path(CORVANE_TEST_DATA_DIR) / "fake-executable-folder";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string fallback = "/fixed/Extensions/CorvaneWhisper/files/";

    EXPECT_EQ(defaultFilePath("ggml-base.en.bin", folder, fallback),
              "/fixed/Extensions/CorvaneWhisper/files/ggml-base.en.bin");

    std::ofstream(folder / "ggml-base.en.bin") << "model";
    EXPECT_EQ(defaultFilePath("ggml-base.en.bin", folder, fallback), (folder / "ggml-base.en.bin").string());
    EXPECT_EQ(defaultFilePath("silero-v6.0.0-ggml.bin", folder, fallback),
              "/fixed/Extensions/CorvaneWhisper/files/silero-v6.0.0-ggml.bin");

    // An unknown executable folder names a file in the working directory.
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    EXPECT_EQ(defaultFilePath("ggml-base.en.bin", fs::path(), fallback), "ggml-base.en.bin");
    EXPECT_EQ(defaultFilePath("absent.bin", fs::path(), fallback), fallback + "absent.bin");
    fs::current_path(previous);
}

TEST(DefaultModelLocation, TheBuildTreeFallbackLeadsToTheProjectsFilesFolder)
{
    const std::string fallback = extensions::whisper::fallbackFilesDirectory();
    const std::string ending = "Extensions/CorvaneWhisper/files/";
    ASSERT_GE(fallback.size(), ending.size());
    EXPECT_EQ(fallback.substr(fallback.size() - ending.size()), ending);
    EXPECT_TRUE(fs::exists(fs::path(fallback) / "README.md"));

    WhisperSTTNode node(kNoModel);
    const std::string expected = fs::exists(fs::path(CORVANE_BINARY_DIR) / "ggml-base.en.bin")
                                     ? std::string(CORVANE_BINARY_DIR) + "/ggml-base.en.bin"
                                     : fallback + "ggml-base.en.bin";
    EXPECT_EQ(node.getImpl().currentModelPath(), expected);
}

TEST(DefaultModelLocation, AnExistenceTestThatFailsForAnotherReasonRaises)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root passes every permission check";
    const fs::path locked = fs::path(CORVANE_TEST_DATA_DIR) / "locked-folder";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::none);
    EXPECT_THROW(extensions::whisper::defaultFilePath("ggml-base.en.bin", locked, "/x/"), fs::filesystem_error);
    fs::permissions(locked, fs::perms::owner_all);
}

TEST(NodeLifetime, ANodeWithoutAudioHasNoWorkerAndIsDestroyedAtOnce)
{
    auto node = std::make_unique<WhisperSTTNode>(kNoModel);
    EXPECT_FALSE(node->getImpl().worker.joinable());
    const auto before = std::chrono::steady_clock::now();
    node.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
}

} // namespace
} // namespace corvane::test
