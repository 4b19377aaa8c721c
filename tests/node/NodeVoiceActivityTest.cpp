// Flash attention, joining detected speech, no model run without signal, and a
// reload during a run with voice-activity detection (needs ../shared's Silero model).

#include <algorithm>
#include <numeric>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "NodeTestSupport.h"
#include "WhisperSTTNodeTypeInfo.h"

namespace corvane::test {
namespace {

TEST(NodeFlashAttention, TheKeyIsDescribedAndReachesEveryModelLoad)
{
    const CVAnyMap configuration = extensions::whisper::makeWhisperSTTNodeTypeInfo().configuration;
    EXPECT_EQ(configuration.at("flashAttention").asMap().at("type").asString(), "boolean");

    // whisper.cpp reports the flag of each context it creates; loads run on this thread.
    std::vector<std::string> whisperLog;
    whisper_log_set([](ggml_log_level, const char* text, void* log) {
        static_cast<std::vector<std::string>*>(log)->push_back(text);
    }, &whisperLog);
    const std::vector<std::pair<CVAnyMap, int>> cases{
        {{}, 0}, {{{"flashAttention", false}}, 0}, {{{"flashAttention", true}}, 1}};
    for (const auto& [extra, flash] : cases) {
        SCOPED_TRACE(flash);
        whisperLog.clear();
        WhisperSTTNode node(testModelConfig(extra));
        ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
        const auto reported = [&](int value) {
            return std::count_if(whisperLog.begin(), whisperLog.end(), [&](const std::string& line) {
                return line.find("flash attn = " + std::to_string(value)) != std::string::npos;
            });
        };
        EXPECT_EQ(reported(flash), 2) << "construction and loadModel";
        EXPECT_EQ(reported(1 - flash), 0);
    }
    whisper_log_set(nullptr, nullptr);
}

TEST(VoiceActivityJoin, SpeechIsJoinedTheWayWhisperCppJoinsItAndItsTimesMapBack)
{
    using extensions::whisper::SpeechTimeline;
    std::vector<float> window(100); // sample i holds i; no span includes sample 0
    std::iota(window.begin(), window.end(), 0.0f);
    // Spans, the joined samples (their values, -1 for inserted silence), then
    // offsets into the joined audio with where they fall in the window as a
    // start and as an end: silence between spans goes forward for a start and
    // back for an end, and the padding after the last span is its end.
    const struct {
        std::vector<extensions::whisper::SpeechSpan> spans;
        std::vector<float> joined;
        std::vector<std::tuple<int, int, int>> times;
    } cases[]{
        {{}, {}, {{5, 0, 0}}},
        {{{10, 13}}, {10, 11, 12}, {{0, 10, 10}, {2, 12, 12}, {40, 13, 13}}},
        // Every span but the last takes the overlap after it; a gap follows.
        {{{10, 12}, {20, 22}}, {10, 11, 12, 13, -1, -1, 20, 21}, {{3, 13, 13}, {5, 20, 14}, {7, 21, 21}, {9, 22, 22}}},
        // Nothing reaches the window's last sample, overlap included.
        {{{95, 120}}, {95, 96, 97, 98}, {{1, 96, 96}}},
        {{{90, 97}, {98, 140}}, {90, 91, 92, 93, 94, 95, 96, 97, 98, -1, -1, 98}, {{10, 98, 99}, {11, 98, 98}}},
        // A span with nothing left in it adds nothing; the gap before it stays.
        {{{10, 12}, {120, 130}}, {10, 11, 12, 13, -1, -1}, {{5, 14, 14}}},
    };
    std::vector<float> joined;
    SpeechTimeline timeline;
    for (const auto& [spans, expected, times] : cases) {
        SCOPED_TRACE(::testing::PrintToString(expected));
        extensions::whisper::joinSpeech(window.data(), static_cast<int32_t>(window.size()), spans, 2, 2, joined, timeline);
        std::replace(joined.begin(), joined.end(), 0.0f, -1.0f);
        EXPECT_EQ(joined, expected);
        for (const auto& [offset, start, end] : times) {
            EXPECT_EQ(timeline.toWindow(offset, SpeechTimeline::Edge::Start), start) << offset;
            EXPECT_EQ(timeline.toWindow(offset, SpeechTimeline::Edge::End), end) << offset;
        }
    }
}

// Digital silence is not run through the model; quiet speech (-40 dBFS peaks
// are common for a distant talker) is.
TEST(NodeNoSignal, OnlyAWindowBelowMinus60DbfsIsSkipped)
{
    for (const auto& [level, skipped] : {std::pair{-0.0009f, true}, std::pair{0.01f, false}}) {
        SCOPED_TRACE(level);
        LogCapture log;
        WhisperSTTNode node(testModelConfig());
        const std::string text =
            transcribeAll(node, skipped ? std::vector<float>(32000, level) : sine(300.0, 16000.0, 2.0, level));
        ASSERT_NE(text, "(none)");
        EXPECT_EQ(log.count("[WhisperSTTNode] No signal in the window (below -60 dBFS); skipping recognition."),
                  skipped ? 1u : 0u);
        EXPECT_EQ(log.count("[WhisperSTTNode] Final processing buffer size: "), skipped ? 0u : 1u) << "whisper_full";
        EXPECT_EQ(log.count("[LATENCY][WHISPER_END] timestamp="), 1u);
        EXPECT_TRUE(!skipped || text.empty()) << text;
    }
}

TEST(NodeVoiceActivityReload, AReloadWaitsForTheRunAndReplacesTheDetector)
{
    const std::string silero = sharedFile("models/silero-v6.0.0-ggml.bin");
    if (silero.empty())
        GTEST_SKIP() << "needs ../shared/models/silero-v6.0.0-ggml.bin";
    LogCapture log;
    WhisperSTTNode node(testModelConfig({{"vad", true}, {"initializeModel", false}}));
    useVadModel(node, silero);
    ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
    ASSERT_TRUE(node.modelSlot().beginRun().detectsVoiceActivity());
    EventRecorder events(node);
    feed(node, sine(300.0, 16000.0, 8.0), 16000.0, 160);

    for (std::size_t round = 1; round <= 3; ++round) {
        const std::size_t starts = log.count("[LATENCY][WHISPER_START]");
        ASSERT_TRUE(node.callAction("transcribe", {{"start", 0}, {"end", 128000}}).isOk());
        // The first round reloads while the run holds the lock; the others
        // race the worker for it.
        if (round == 1) {
            ASSERT_TRUE(log.waitForCount("[LATENCY][WHISPER_START]", starts + 1));
        }
        ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
        ASSERT_TRUE(node.modelSlot().beginRun().detectsVoiceActivity());
        // Served with the new detector; the request before the reload may
        // have been served or dropped.
        const std::size_t served = events.named("transcribed").size();
        ASSERT_TRUE(node.callAction("transcribe", {{"start", 0}, {"end", 128000}}).isOk());
        ASSERT_TRUE(events.waitFor("transcribed", served + 1));
    }
    EXPECT_EQ(log.count("[WhisperSTTNode] Voice-activity detection failed; transcribing the whole window."), 0u);
}

} // namespace
} // namespace corvane::test
