// The node from end to end on the weight-less model: audio in through
// consume(), "transcribe", the worker's run and the "transcribed" event.

#include <atomic>
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

class NodeTranscription : public ::testing::Test {
protected:
    void SetUp() override
    {
        node = std::make_unique<WhisperSTTNode>(testModelConfig());
        events = std::make_unique<EventRecorder>(*node);
    }
    void TearDown() override
    {
        events.reset();
        node.reset();
    }

    WhisperSTTNode::Impl& state() { return node->getImpl(); }

    void feedSeconds(double seconds, double rate = 48000.0)
    {
        feed(*node, sine(440.0, rate, seconds), rate, static_cast<std::size_t>(rate / 100));
    }

    /// Waits until the worker has been idle for a moment, so "no event" means
    /// none is coming.
    void settle() { std::this_thread::sleep_for(150ms); }

    LogCapture log;
    std::unique_ptr<WhisperSTTNode> node;
    std::unique_ptr<EventRecorder> events;
};

TEST_F(NodeTranscription, OneRequestGivesOneEventWithTextAndProcessingTime)
{
    feedSeconds(1.5);
    // 1.5 s at 48 kHz arrive as about 24000 samples at 16 kHz.
    EXPECT_NEAR(static_cast<double>(state().totalSamples()), 24000.0, 64.0);
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());

    ASSERT_TRUE(events->waitFor("transcribed", 1));
    settle();
    const auto transcribed = events->named("transcribed");
    ASSERT_EQ(transcribed.size(), 1u);
    const CVAnyMap& data = transcribed[0].data.asMap();
    EXPECT_EQ(data.size(), 2u);
    EXPECT_TRUE(data.at("text").isString());
    ASSERT_TRUE(data.at("processingTime").isInteger());
    EXPECT_GE(data.at("processingTime").asInteger(), 0);

    const auto starts = log.texts(kStartLine);
    const auto ends = log.texts(kEndLine);
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_TRUE(std::regex_match(starts[0], std::regex(R"(\[LATENCY\]\[WHISPER_START\] timestamp=\d+)")));
    EXPECT_TRUE(std::regex_match(ends[0], std::regex(R"(\[LATENCY\]\[WHISPER_END\] timestamp=\d+ processingTime=\d+ms)")));
    EXPECT_NE(ends[0].find("processingTime=" + std::to_string(data.at("processingTime").asInteger()) + "ms"),
              std::string::npos);

    const auto sizes = log.texts(kSizeLine);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0], kSizeLine + std::to_string(state().totalSamples()) + " samples, audio_ctx=1000");
    EXPECT_EQ(log.count("[WhisperSTTNode] Transcription: "), 1u);
}

TEST_F(NodeTranscription, AShortWindowIsPaddedToTheMinimumRun)
{
    feedSeconds(0.5);
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    ASSERT_TRUE(events->waitFor("transcribed", 1));
    EXPECT_EQ(log.texts(kSizeLine), (std::vector<std::string>{kSizeLine + "17000 samples, audio_ctx=1000"}));
}

TEST_F(NodeTranscription, TheCallbackRunsBeforeTheEvent)
{
    std::vector<std::string> order;
    std::mutex orderMutex;
    std::condition_variable ordered;
    auto record = [&](const char* what) {
        std::lock_guard<std::mutex> lock(orderMutex);
        order.push_back(what);
        ordered.notify_all();
    };
    node->setTranscriptionCallback([&](const std::string&, int32_t ms) {
        EXPECT_GE(ms, 0);
        record("callback");
    });
    const auto id = node->addListener("transcribed", [&](const std::string&, const CVAny&) { record("event"); });

    feedSeconds(0.3);
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    std::unique_lock<std::mutex> lock(orderMutex);
    ASSERT_TRUE(ordered.wait_for(lock, 120s, [&] { return order.size() >= 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"callback", "event"}));
    lock.unlock();
    node->removeListener(id);
}

TEST_F(NodeTranscription, ARequestPendingDuringAReloadIsDropped)
{
    // The request is posted before any audio, so no worker can take it before
    // the reload clears it.
    state().history->write(std::vector<float>(20000, 0.0f).data(), 20000);
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    ASSERT_TRUE(state().transcribeRequested.load());
    ASSERT_TRUE(node->callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());

    feedSeconds(0.2); // starts the worker
    settle();
    EXPECT_TRUE(events->named("transcribed").empty());

    // The next request after the reload is served normally.
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    ASSERT_TRUE(events->waitFor("transcribed", 1));
}

TEST_F(NodeTranscription, ARequestWithNoModelIsLoggedAndDropped)
{
    feedSeconds(0.2);
    ASSERT_TRUE(node->callAction("loadModel", {{"modelPath", "/no/such/model.bin"}}).hasError());
    // The action refuses without a model, so post the request as a racing
    // "transcribe" from before the failed load would have.
    state().transcribeStart = 0;
    state().transcribeEnd = 1000;
    state().transcribeRequested = true;
    ASSERT_TRUE(log.waitForCount("[WhisperSTTNode] Transcription triggered but no model is loaded.", 1, 5s));
    settle();
    EXPECT_TRUE(events->named("transcribed").empty());
    EXPECT_EQ(log.count(kStartLine), 0u);
}

TEST_F(NodeTranscription, WindowsReachingOutsideTheHistoryAreCutOrDropped)
{
    feedSeconds(2.0);
    const auto total = static_cast<int>(state().totalSamples());

    // Past the newest sample: cut to it, with a warning.
    ASSERT_TRUE(node->callAction("transcribe", {{"start", total - 20000}, {"end", total + 5000}}).isOk());
    ASSERT_TRUE(events->waitFor("transcribed", 1));
    EXPECT_EQ(log.count("[WhisperSTTNode] Transcription window "), 1u);
    EXPECT_EQ(log.texts(kSizeLine).back(), kSizeLine + "20000 samples, audio_ctx=1000");

    // Entirely in the future: nothing is left, so nothing runs.
    ASSERT_TRUE(node->callAction("transcribe", {{"start", total + 100}, {"end", total + 900}}).isOk());
    ASSERT_TRUE(log.waitForCount("[WhisperSTTNode] Transcription window ", 2, 5s));
    settle();
    EXPECT_EQ(events->named("transcribed").size(), 1u);
    EXPECT_NE(log.texts("[WhisperSTTNode] Transcription window ").back().find("request dropped"), std::string::npos);
}

TEST_F(NodeTranscription, RequestsCollapseInsteadOfQueueing)
{
    feedSeconds(1.0);
    for (int i = 0; i < 5; ++i) {
        feedSeconds(0.05);
        ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    }
    ASSERT_TRUE(events->waitFor("transcribed", 1));
    settle();
    std::this_thread::sleep_for(1s);
    const auto runs = events->named("transcribed").size();
    EXPECT_GE(runs, 1u);
    EXPECT_LE(runs, 3u);
}

TEST_F(NodeTranscription, DestroyingTheNodeDuringARunWaitsForItsEvent)
{
    feedSeconds(3.0);
    ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
    ASSERT_TRUE(log.waitForCount(kStartLine, 1, 10s));
    events.reset();
    node.reset();
    EXPECT_EQ(log.count(kEndLine), 1u);
    EXPECT_EQ(log.count("[WhisperSTTNode] Transcription: "), 1u);
}

TEST_F(NodeTranscription, DestroyingAnIdleNodeReturnsPromptly)
{
    feedSeconds(0.1);
    ASSERT_TRUE(state().worker.joinable());
    std::this_thread::sleep_for(50ms);
    events.reset();
    const auto before = std::chrono::steady_clock::now();
    node.reset();
    // A hang shows as seconds; a 10 ms poll as tens of milliseconds.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

TEST_F(NodeTranscription, OnlyMonoIsAccepted)
{
    AudioBusFormat stereo{2, 48000.0};
    EXPECT_FALSE(node->setBusFormat(stereo));
    EXPECT_TRUE(log.contains("[WhisperSTTNode] Whisper STT only supports mono audio."));
    for (double rate : {8000.0, 16000.0, 44100.0, 96000.0}) {
        AudioBusFormat mono{1, rate};
        EXPECT_TRUE(node->setBusFormat(mono));
    }
    AudioBusFormatList two{AudioBusFormat{1, 16000.0}, AudioBusFormat{1, 16000.0}};
    EXPECT_FALSE(node->setBusFormats(two));
}

TEST_F(NodeTranscription, OneWorkerForTheNodesWholeLife)
{
    feedSeconds(0.05);
    const auto id = state().worker.get_id();
    feedSeconds(2.0);
    EXPECT_EQ(state().worker.get_id(), id);
}

TEST(NodeTranscriptionWindowCopy, ASlowLogSinkCannotLetNewAudioIntoTheRunsWindow)
{
    // An application's log sink may take its time (a file, a terminal). The
    // run copies its window before it logs, so audio that arrives meanwhile,
    // more than the ring's margin of it, cannot reach what the run reads.
    WhisperSTTNode node(testModelConfig());
    EventRecorder events(node);
    WhisperSTTNode::Impl& state = node.getImpl();

    // 16 kHz passes through unconverted, so every sample keeps its value.
    std::vector<float> audio(35 * 16000);
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = 0.5f * static_cast<float>(std::sin(0.001 * static_cast<double>(i)));
    feed(node, audio, 16000.0, 160);
    const uint64_t total = state.totalSamples();
    ASSERT_EQ(total, audio.size());

    // The sink stands in for the audio thread going on while the run logs
    // that its window was cut to the retained audio.
    const std::vector<float> later(3 * 16000, 0.9f);
    std::atomic<bool> fed{false};
    Logger::setSink([&](LogLevel, const std::string& line) {
        if (line.rfind("[WhisperSTTNode] Transcription window ", 0) == 0 && !fed.exchange(true))
            feed(node, later, 16000.0, 160);
    });
    ASSERT_TRUE(node.callAction("transcribe", {{"start", 0}, {"end", static_cast<int>(total)}}).isOk());
    const bool answered = events.waitFor("transcribed", 1);
    Logger::setSink(nullptr);
    ASSERT_TRUE(answered);
    ASSERT_TRUE(fed.load());

    const auto retained = static_cast<std::ptrdiff_t>(state.historyCapacity);
    EXPECT_TRUE(std::equal(audio.end() - retained, audio.end(), state.runSamples.begin()));
}

} // namespace
} // namespace corvane::test
