// The node's actions. No audio goes through consume() here, so no worker runs:
// the tests see the posted requests as they were stored.

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

constexpr uint64_t kCapacity = 480000;

class NodeActions : public ::testing::Test {
protected:
    void SetUp() override { node = std::make_unique<WhisperSTTNode>(testModelConfig()); }

    WhisperSTTNode::Impl& state() { return node->getImpl(); }

    /// Appends silence to the history without starting the worker.
    void receive(uint64_t samples)
    {
        std::vector<float> block(8192, 0.0f);
        while (samples > 0) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(samples, block.size()));
            state().history->write(block.data(), n);
            samples -= n;
        }
    }

    Result<CVAny> transcribe(CVAnyMap params = {}) { return node->callAction("transcribe", params); }

    struct Request {
        uint32_t start;
        uint32_t end;
        bool pending;
        bool operator==(const Request&) const = default;
    };
    Request request()
    {
        return {state().transcribeStart.load(), state().transcribeEnd.load(), state().transcribeRequested.load()};
    }
    uint64_t commitPoint() { return state().lastCommittedSample.load(); }

    std::unique_ptr<WhisperSTTNode> node;
};

TEST_F(NodeActions, TranscribeWithoutAModelIsRefusedAndChangesNothing)
{
    WhisperSTTNode bare({{"initializeModel", false}});
    LogCapture log;
    const auto result = bare.callAction("transcribe", {});
    ASSERT_TRUE(result.hasError());
    EXPECT_EQ(result.getError().getMessage(), "[WhisperSTTNode] No model loaded; call 'loadModel' first.");
    EXPECT_TRUE(log.lines().empty());
    EXPECT_FALSE(bare.getImpl().transcribeRequested.load());
}

TEST_F(NodeActions, DefaultWindowsRunFromTheCommitPointToTheNewestSample)
{
    LogCapture log;
    const std::string skipped = "[WhisperSTTNode] Action 'transcribe': no new audio since last commit, skipping.";

    // Before any audio there is nothing to do, and that is not an error.
    EXPECT_TRUE(transcribe().isOk());
    EXPECT_TRUE(log.contains(skipped));
    EXPECT_FALSE(request().pending);

    receive(1000);
    EXPECT_TRUE(transcribe().isOk());
    EXPECT_EQ(request(), (Request{0, 1000, true}));
    EXPECT_EQ(commitPoint(), 1000u);

    log.clear();
    EXPECT_TRUE(transcribe().isOk());
    EXPECT_TRUE(log.contains(skipped));
    EXPECT_EQ(commitPoint(), 1000u);

    receive(2500);
    EXPECT_TRUE(transcribe().isOk());
    EXPECT_EQ(request(), (Request{1000, 3500, true}));
}

TEST_F(NodeActions, DefaultWindowIsCappedToTheNewestThirtySeconds)
{
    receive(kCapacity + 12345);
    EXPECT_TRUE(transcribe().isOk());
    EXPECT_EQ(request(), (Request{12345, static_cast<uint32_t>(kCapacity + 12345), true}));
    EXPECT_EQ(commitPoint(), kCapacity + 12345);
}

TEST_F(NodeActions, ALoneStartOrEndIsIgnored)
{
    receive(4000);
    EXPECT_TRUE(transcribe({{"start", 100}}).isOk());
    EXPECT_EQ(request(), (Request{0, 4000, true}));
    receive(1000);
    EXPECT_TRUE(transcribe({{"end", 100}}).isOk());
    EXPECT_EQ(request(), (Request{4000, 5000, true}));
}

TEST_F(NodeActions, AnExplicitWindowIsPostedAndMovesTheCommitPointToItsEnd)
{
    receive(50000);
    LogCapture log;
    EXPECT_TRUE(transcribe({{"start", 100}, {"end", 20000}}).isOk());
    EXPECT_EQ(request(), (Request{100, 20000, true}));
    EXPECT_EQ(commitPoint(), 20000u);
    EXPECT_TRUE(log.contains("[WhisperSTTNode] Action 'transcribe' called, start of samples: 100, end of samples: 20000"));

    // The next default window starts where the explicit one ended.
    EXPECT_TRUE(transcribe().isOk());
    EXPECT_EQ(request(), (Request{20000, 50000, true}));
}

TEST_F(NodeActions, AnExplicitEndPastTheNewestSampleIsPulledBackByTheNextDefaultWindow)
{
    receive(1000);
    EXPECT_TRUE(transcribe({{"start", 0}, {"end", 90000}}).isOk());
    EXPECT_EQ(commitPoint(), 90000u);
    EXPECT_TRUE(transcribe().isOk());
    EXPECT_EQ(commitPoint(), 1000u);
    EXPECT_EQ(request(), (Request{0, 90000, true})) << "the skip posts nothing new";
}

TEST_F(NodeActions, UnconvertibleWindowValuesRaiseBeforeAnythingChanges)
{
    receive(1000);
    EXPECT_THROW(transcribe({{"start", "soon"}, {"end", 10}}), std::exception);
    EXPECT_THROW(transcribe({{"start", 0}, {"end", 1e12}}), std::exception);
    EXPECT_EQ(commitPoint(), 0u);
    EXPECT_FALSE(request().pending);
}

TEST_F(NodeActions, ResetMovesOnlyTheCommitPoint)
{
    receive(8000);
    EXPECT_TRUE(transcribe().isOk());
    receive(2000);
    LogCapture log;
    EXPECT_TRUE(node->callAction("resetTranscribeWindow", {{"ignored", 1}}).isOk());
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(commitPoint(), 10000u);
    EXPECT_EQ(request(), (Request{0, 8000, true})) << "a pending request stays pending";
    EXPECT_EQ(state().totalSamples(), 10000u) << "the history keeps its samples";

    EXPECT_TRUE(transcribe().isOk());
    EXPECT_TRUE(log.contains("[WhisperSTTNode] Action 'transcribe': no new audio since last commit, skipping."));
}

TEST_F(NodeActions, LoadModelReplacesTheModelAndReportsIt)
{
    EventRecorder events(*node);
    receive(7000);
    state().transcribeRequested = true; // a request aimed at the old model
    LogCapture log;

    const auto result = node->callAction("loadModel", {{"modelPath", weightlessBaseModel()}});
    ASSERT_TRUE(result.isOk()) << result.getError().getMessage();
    EXPECT_TRUE(result.getValue().isEmpty());
    EXPECT_FALSE(state().transcribeRequested.load()) << "the old model's request is dropped";
    EXPECT_EQ(commitPoint(), 7000u);
    EXPECT_EQ(state().currentModelPath(), weightlessBaseModel());

    const auto lines = log.texts("[WhisperSTTNode] ");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[WhisperSTTNode] Initializing with GPU: DISABLED") << "loadModel defaults to CPU";
    EXPECT_EQ(lines[1], "[WhisperSTTNode] Initialized successfully");

    const auto loaded = events.named("modelLoaded");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].data, CVAny(CVAnyMap{{"modelPath", weightlessBaseModel()}}));
}

TEST_F(NodeActions, LoadModelWithAnUnreadableGpuFlagWarnsAndUsesTheCpu)
{
    LogCapture log;
    const auto result = node->callAction("loadModel", {{"modelPath", weightlessTinyModel()}, {"useGPU", "yes"}});
    EXPECT_TRUE(result.isOk());
    EXPECT_TRUE(log.contains("[WhisperSTTNode] Invalid value for 'useGPU'."));
    EXPECT_TRUE(log.contains("[WhisperSTTNode] Initializing with GPU: DISABLED"));
}

TEST_F(NodeActions, AFailedLoadLeavesNoModelAndSaysWhy)
{
    EventRecorder events(*node);
    receive(3000);
    LogCapture log;

    const auto result = node->callAction("loadModel", {{"modelPath", "/no/such/model.bin"}});
    ASSERT_TRUE(result.hasError());
    EXPECT_EQ(result.getError().getMessage(), "[WhisperSTTNode] Failed to load model: Failed to initialize WhisperSTTNode");
    EXPECT_TRUE(log.contains("[WhisperSTTNode] loadModel failed: Failed to initialize WhisperSTTNode"));
    EXPECT_EQ(commitPoint(), 0u) << "a failed load does not move the commit point";

    const auto failed = events.named("modelLoadFailed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].data, CVAny(CVAnyMap{{"modelPath", "/no/such/model.bin"},
                                             {"error", "Failed to initialize WhisperSTTNode"}}));
    EXPECT_TRUE(events.named("modelLoaded").empty());

    // The old model is gone too.
    EXPECT_EQ(transcribe().getError().getMessage(), "[WhisperSTTNode] No model loaded; call 'loadModel' first.");

    // A later good load brings the node back.
    EXPECT_TRUE(node->callAction("loadModel", {{"modelPath", weightlessTinyModel()}}).isOk());
    EXPECT_TRUE(transcribe().isOk());
}

TEST_F(NodeActions, LoadModelWithoutAPathRaises)
{
    EXPECT_THROW(node->callAction("loadModel", {}), std::out_of_range);
    EXPECT_TRUE(state().modelReady.load());
}

TEST_F(NodeActions, OtherNamesGoToTheBaseClass)
{
    const auto result = node->callAction("Transcribe", {});
    ASSERT_TRUE(result.hasError());
    EXPECT_EQ(result.getError().getMessage(), "Unknown action: Transcribe");
}

} // namespace
} // namespace corvane::test
