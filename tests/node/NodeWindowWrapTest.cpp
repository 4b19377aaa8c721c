// Explicit windows on a node that has been running for days: "start"/"end"
// carry the low 32 bits of absolute indices, which read as negative ints past
// 2^31 samples and wrap to 0 at 2^32. The history's counter starts just short
// of those points instead of being fed 37 hours of audio.

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

constexpr uint64_t k2To31 = uint64_t { 1 } << 31;
constexpr uint64_t k2To32 = uint64_t { 1 } << 32;
constexpr uint32_t kSecond = 16000;

std::unique_ptr<WhisperSTTNode> nodeWithCounterAt(uint64_t firstIndex)
{
    auto node = std::make_unique<WhisperSTTNode>(testModelConfig());
    node->audioIntake().startCountingAt(firstIndex);
    node->transcriptionRequests().moveCommitPoint(firstIndex);
    return node;
}

// Runs with the weight-less model; each case feeds 3 s at 16 kHz (passed
// through unresampled) whose every sample is distinct, asks for the newest
// second and checks the run read exactly those samples, then silence.
TEST(NodeWindowWrap, NewestSecondIsServedPastTwoToThe31And32)
{
    struct Case {
        const char* name;
        uint64_t totalAfterFeed;
    };
    for (const Case& c : {Case{"just past 2^31", k2To31 + 100},
                          Case{"just past 2^32", k2To32 + 5 * kSecond},
                          Case{"window across 2^32", k2To32 + kSecond / 2}}) {
        SCOPED_TRACE(c.name);
        std::vector<float> audio(3 * kSecond);
        for (std::size_t i = 0; i < audio.size(); ++i)
            audio[i] = 0.25f * static_cast<float>(i % 4000) / 4000.0f + 0.01f;

        auto node = nodeWithCounterAt(c.totalAfterFeed - audio.size());
        EventRecorder events(*node);
        feed(*node, audio, 16000.0, 320);
        ASSERT_EQ(node->audioIntake().totalSamples(), c.totalAfterFeed);

        const auto end = static_cast<int>(static_cast<uint32_t>(c.totalAfterFeed));
        const auto start = static_cast<int>(static_cast<uint32_t>(c.totalAfterFeed - kSecond));
        LogCapture log;
        const auto result = node->callAction("transcribe", {{"start", start}, {"end", end}});
        ASSERT_FALSE(result.hasError()) << result.getError().getMessage();
        EXPECT_EQ(node->transcriptionRequests().commitPoint(), c.totalAfterFeed);
        ASSERT_TRUE(events.waitFor("transcribed", 1));

        EXPECT_EQ(log.count("[WhisperSTTNode] Transcription window "), 0u); // neither cut nor dropped
        EXPECT_EQ(log.count("[WhisperSTTNode] Final processing buffer size: 17000 samples, audio_ctx=1000"), 1u);
        const std::vector<float> newest(audio.end() - kSecond, audio.end());
        const std::vector<float>& run = node->transcriptionWorker().lastRunSamples();
        EXPECT_EQ(std::vector<float>(run.begin(), run.begin() + kSecond), newest);
        EXPECT_TRUE(std::all_of(run.begin() + kSecond, run.begin() + 17000,
                                [](float sample) { return sample == 0.0f; }));
    }
}

// Refusals depend on the window's length modulo 2^32 alone: empty, or an end
// that comes before its start in wrap-around order, wherever the pair lies.
TEST(NodeWindowWrap, EmptyAndReversedWindowsAreRefusedAnywhere)
{
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int kMax = std::numeric_limits<int>::max();
    struct Case {
        int start;
        int end;
        bool refused;
    };
    auto node = nodeWithCounterAt(0);
    auto& requests = node->transcriptionRequests();
    for (const Case& c : {Case{100, 50, true},       Case{100, 100, true},     Case{0, kMin, true},
                          Case{kMin + 10, kMin, true}, Case{kMin, kMin, true}, Case{kMin, kMax, true},
                          Case{kMax, kMin, false},     Case{-10, 5, false},    Case{kMin, kMin + 1, false},
                          Case{-100, -50, false}}) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << ", end " << c.end);
        requests.drop();
        requests.moveCommitPoint(7);
        const auto result = node->callAction("transcribe", {{"start", c.start}, {"end", c.end}});
        ASSERT_EQ(result.hasError(), c.refused);
        if (c.refused) {
            EXPECT_EQ(result.getError().getMessage(),
                      "[WhisperSTTNode] Invalid transcribe window: 'end' (" + std::to_string(c.end) +
                          ") must be greater than 'start' (" + std::to_string(c.start) + ").");
            EXPECT_FALSE(requests.isPending());
            EXPECT_EQ(requests.commitPoint(), 7u);
        } else {
            EXPECT_TRUE(requests.isPending());
            EXPECT_EQ(requests.window().start, static_cast<uint32_t>(c.start));
            EXPECT_EQ(requests.window().end, static_cast<uint32_t>(c.end));
        }
    }
}

} // namespace
} // namespace corvane::test
