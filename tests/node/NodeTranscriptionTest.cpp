// The node from end to end on the weight-less model: audio in through
// consume(), "transcribe", the worker's run and the "transcribed" event.

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

const std::string kStartLine = "[LATENCY][WHISPER_START] timestamp=";
const std::string kEndLine = "[LATENCY][WHISPER_END] timestamp=";
const std::string kSizeLine = "[WhisperSTTNode] Final processing buffer size: ";
const std::string kWindowLine = "[WhisperSTTNode] Transcription window ";

class NodeTranscription : public ::testing::Test {
protected:
    void feedSeconds(double seconds, double rate)
    {
        feed(*node, sine(440.0, rate, seconds), rate, static_cast<std::size_t>(rate / 100));
    }

    LogCapture log;
    std::unique_ptr<WhisperSTTNode> node = std::make_unique<WhisperSTTNode>(testModelConfig());
    std::unique_ptr<EventRecorder> events = std::make_unique<EventRecorder>(*node);
};

TEST_F(NodeTranscription, WindowsArePaddedCutOrDroppedAndEachRunEndsInOneEvent)
{
    feedSeconds(0.5, 16000.0); // passes the resampler untouched
    ASSERT_EQ(node->audioIntake().totalSamples(), 8000u);
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    ASSERT_TRUE(events->waitFor("transcribed", 1));
    const CVAnyMap& data = events->named("transcribed").at(0).data.asMap();
    EXPECT_TRUE(data.size() == 4 && data.at("text").isString());
    EXPECT_EQ(data.at("start").asInteger(), 0);
    EXPECT_EQ(data.at("end").asInteger(), 8000) << "the window, not its padding";
    EXPECT_TRUE(std::regex_match(log.texts(kStartLine).at(0), std::regex(R"(\S+ timestamp=\d+)")));
    EXPECT_EQ(log.texts(kEndLine).at(0).substr(log.texts(kEndLine).at(0).find(" processingTime=")),
              " processingTime=" + std::to_string(data.at("processingTime").asInteger()) + "ms");
    EXPECT_EQ(log.texts(kSizeLine), std::vector<std::string>{kSizeLine + "17000 samples, audio_ctx=1000"});

    // 1.5 s at 48 kHz arrive as about 24000 samples at 16 kHz.
    feedSeconds(1.5, 48000.0);
    const auto total = static_cast<int>(node->audioIntake().totalSamples());
    EXPECT_NEAR(total, 32000, 64);
    ASSERT_TRUE(node->callAction("transcribe", {{"start", total - 20000}, {"end", total + 5000}}).isOk());
    ASSERT_TRUE(events->waitFor("transcribed", 2));
    auto window = [](int start, int end) { return "[" + std::to_string(start) + ", " + std::to_string(end) + ")"; };
    EXPECT_EQ(log.texts(kWindowLine), std::vector<std::string>{kWindowLine + window(total - 20000, total + 5000) +
                                                                " reaches outside the retained audio; transcribing " +
                                                                window(total - 20000, total) + "."});
    EXPECT_EQ(log.texts(kSizeLine).back(), kSizeLine + "20000 samples, audio_ctx=1000");

    // Entirely in the future: nothing is left, so nothing runs.
    ASSERT_TRUE(node->callAction("transcribe", {{"start", total + 100}, {"end", total + 900}}).isOk());
    ASSERT_TRUE(log.waitForCount(kWindowLine, 2, 5s));
    EXPECT_EQ(log.texts(kWindowLine).back(),
              kWindowLine + window(total + 100, total + 900) + " holds no retained audio; request dropped.");
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(events->named("transcribed").size(), 2u);
    EXPECT_EQ(log.count(kEndLine), 2u);
}

TEST_F(NodeTranscription, FailuresAroundARunAreLoggedAndTheCallbackRunsBeforeTheEvent)
{
    std::atomic<int> step{0};
    node->setTranscriptionCallback([&](const std::string&, int32_t) {
        step = 1;
        throw std::runtime_error("app failed");
    });
    const auto id = node->addListener("transcribed", [&](const std::string&, const CVAny&) { step = step * 10 + 2; });
    feedSeconds(0.3, 48000.0);
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    ASSERT_TRUE(events->waitFor("transcribed", 1));
    // The recorder was added first, so it hears the event before this test's listener does.
    for (const auto until = std::chrono::steady_clock::now() + 5s; step.load() == 1 && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(step.load(), 12);
    EXPECT_EQ(log.count("[WhisperSTTNode] Transcription callback threw: app failed"), 1u);
    node->removeListener(id);

    // A request racing a failed load finds no model.
    ASSERT_TRUE(node->callAction("loadModel", {{"modelPath", "/no/such/model.bin"}}).hasError());
    node->transcriptionRequests().post({0, 1000}, 0);
    ASSERT_TRUE(log.waitForCount("[WhisperSTTNode] Transcription triggered but no model is loaded.", 1, 5s));
    EXPECT_EQ(log.count(kStartLine), 1u);
}

TEST_F(NodeTranscription, DestroyingTheNodeWaitsForARunningRunAndNoLongerWhenIdle)
{
    feedSeconds(3.0, 48000.0);
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    ASSERT_TRUE(log.waitForCount(kStartLine, 1, 10s));
    events.reset();
    node.reset();
    EXPECT_EQ(log.count(kEndLine), 1u);
    EXPECT_EQ(log.count("[WhisperSTTNode] Transcription: "), 1u);

    auto idle = std::make_unique<WhisperSTTNode>(testModelConfig());
    feed(*idle, std::vector<float>(1600, 0.0f), 16000.0, 160); // starts its worker
    std::this_thread::sleep_for(50ms);
    // Only the worker's stop is timed: freeing the model may take its time
    // in a sanitizer build on a busy machine.
    const auto before = std::chrono::steady_clock::now();
    idle->transcriptionWorker().stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s); // a hang shows as seconds
    idle.reset();
}

// An application's log sink may take its time. The run copies its window
// before it logs, so audio that arrives meanwhile, more than the ring's margin
// of it, cannot reach what the run reads.
TEST_F(NodeTranscription, ASlowLogSinkCannotLetNewAudioIntoTheRunsWindow)
{
    const std::vector<float> audio = sine(3.0, 16000.0, 35.0);
    feed(*node, audio, 16000.0, 160);

    const std::vector<float> later(3 * 16000, 0.9f);
    std::atomic<bool> fed{false};
    Logger::setSink([&](LogLevel, const std::string& line) {
        if (line.rfind(kWindowLine, 0) == 0 && !fed.exchange(true))
            feed(*node, later, 16000.0, 160);
    });
    ASSERT_TRUE(node->callAction("transcribe", {{"start", 0}, {"end", static_cast<int>(audio.size())}}).isOk());
    const bool answered = events->waitFor("transcribed", 1);
    Logger::setSink(nullptr);
    ASSERT_TRUE(answered && fed);
    const auto retained = static_cast<std::ptrdiff_t>(node->audioIntake().kHistoryCapacity);
    EXPECT_TRUE(std::equal(audio.end() - retained, audio.end(), node->transcriptionWorker().lastRunSamples().begin()));
}

// Real speech through a real model, at 48 kHz so that it goes through the
// resampler; skips without ../shared or sox.
TEST(NodeRealModel, TranscribesJfkAt48Kilohertz)
{
    const std::string model = realTinyModel(), speech = sharedFile("audio/jfk.wav");
    const std::string converted = std::string(CORVANE_TEST_DATA_DIR) + "/jfk-48k.f32";
    if (model.empty() || speech.empty() ||
        std::system(("sox -D '" + speech + "' -t f32 -r 48000 -c 1 '" + converted + "'").c_str()) != 0)
        GTEST_SKIP() << "needs ../shared/models/ggml-tiny.en.bin, ../shared/audio/jfk.wav and sox";
    std::ifstream file(converted, std::ios::binary | std::ios::ate);
    std::vector<float> audio(static_cast<std::size_t>(file.tellg()) / sizeof(float));
    file.seekg(0).read(reinterpret_cast<char*>(audio.data()), static_cast<std::streamsize>(audio.size() * sizeof(float)));

    WhisperSTTNode node(CVAnyMap{{"modelPath", model}, {"useGPU", false}});
    const std::string text = transcribeAll(node, audio, 48000.0);
    EXPECT_NE(std::regex_replace(text, std::regex("[^a-zA-Z]+"), " ").find("ask not what your country can do for you"),
              std::string::npos) << text;
}

} // namespace
} // namespace corvane::test
