// What the audio thread may do inside consume(): after the first block, no
// heap allocation and no lock, at any input rate and block size.

#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "LogCapture.h"
#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

struct IntakeCase {
    double rate;
    std::size_t blockFrames;
};

class NodeAudioThread : public ::testing::TestWithParam<IntakeCase> {};

TEST_P(NodeAudioThread, SteadyIntakeNeitherAllocatesNorLocks)
{
    const auto [rate, blockFrames] = GetParam();
    // Without a model the worker still starts, so this also covers intake
    // while a worker polls.
    WhisperSTTNode node({{"initializeModel", false}});
    const std::vector<float> audio = sine(300.0, rate, 3.0);

    // The first blocks set the resampler up and, once the converter's delay
    // has passed, deliver the first audio, which starts the worker.
    const auto warmUp = std::max<std::size_t>(blockFrames, static_cast<std::size_t>(rate / 10));
    feed(node, std::vector<float>(audio.begin(), audio.begin() + warmUp), rate, blockFrames);
    ASSERT_TRUE(node.getImpl().worker.joinable());

    AllocationCounter counter;
    counter.start();
    feed(node, audio, rate, blockFrames);
    counter.stop();

    EXPECT_EQ(counter.count(), 0u);
    EXPECT_EQ(counter.lockCount(), 0u);
    if (!AllocationCounter::countsMutexLocks())
        std::cout << "[ note ] this build cannot count mutex locks (sanitizer)\n";
}

INSTANTIATE_TEST_SUITE_P(RatesAndBlocks, NodeAudioThread,
                         ::testing::Values(IntakeCase{48000.0, 480}, IntakeCase{44100.0, 441},
                                           IntakeCase{16000.0, 160}, IntakeCase{96000.0, 8192},
                                           IntakeCase{22050.0, 1}, IntakeCase{8000.0, 4096}),
                         [](const ::testing::TestParamInfo<IntakeCase>& info) {
                             return std::to_string(static_cast<int>(info.param.rate)) + "Hz_" +
                                    std::to_string(info.param.blockFrames) + "Frames";
                         });

TEST(NodeAudioThreadHistory, TheCounterGrowsBySixteenKilohertzSamples)
{
    WhisperSTTNode node({{"initializeModel", false}});
    feed(node, sine(300.0, 44100.0, 1.0), 44100.0, 441);
    EXPECT_NEAR(static_cast<double>(node.getImpl().totalSamples()), 16000.0, 64.0);
    feed(node, sine(300.0, 16000.0, 1.0), 16000.0, 100);
    EXPECT_NEAR(static_cast<double>(node.getImpl().totalSamples()), 32000.0, 128.0);
}

TEST(NodeAudioThreadHistory, OneBlockLeavesTheAudioARunIsAboutToCopyInPlace)
{
    // A run reads the counter and then copies its window from the oldest
    // retained sample on. A host block that arrives in between, even 8192
    // frames at 8 kHz, must not reach those samples.
    WhisperSTTNode node({{"initializeModel", false}});
    WhisperSTTNode::Impl& state = node.getImpl();
    feed(node, sine(300.0, 8000.0, 35.0), 8000.0, 8192);
    const uint64_t total = state.totalSamples();
    const auto retained = static_cast<uint32_t>(state.historyCapacity);
    ASSERT_GT(total, retained);
    const float* oldest = state.history->window(state.history->ringPositionOf(total - retained));
    const std::vector<float> before(oldest, oldest + retained);

    feed(node, std::vector<float>(8192, 0.9f), 8000.0, 8192);
    ASSERT_GT(state.totalSamples() - total, 16000u) << "one block brings more than a second";
    EXPECT_TRUE(std::equal(before.begin(), before.end(), oldest));
}

TEST(NodeAudioThreadHistory, ABusWithoutABufferIsHarmless)
{
    WhisperSTTNode node({{"initializeModel", false}});
    AudioBus empty;
    EXPECT_FALSE(node.consume(empty));
    AudioBusArray<0> noBuses;
    EXPECT_FALSE(node.consume(noBuses));
    EXPECT_EQ(node.getImpl().totalSamples(), 0u);
    EXPECT_FALSE(node.getImpl().worker.joinable());
}

} // namespace
} // namespace corvane::test
