// What the audio thread may do inside consume(): after the first block, no
// heap allocation and no lock, at any input rate and block size.

#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

TEST(NodeAudioThread, SteadyIntakeNeitherAllocatesNorLocks)
{
    const std::pair<double, std::size_t> cases[] = {{48000.0, 480}, {44100.0, 441}, {16000.0, 160},
                                                    {96000.0, 8192}, {22050.0, 1}, {8000.0, 4096}};
    for (const auto& [rate, blockFrames] : cases) {
        SCOPED_TRACE(::testing::Message() << rate << " Hz in blocks of " << blockFrames);
        // Without a model the worker still starts, polls and (every other
        // node) looks for utterances meanwhile.
        WhisperSTTNode node({{"initializeModel", false}, {"autoTranscribe", rate > 20000}});
        const std::vector<float> audio = sine(300.0, rate, 2.0);
        // The first blocks set the resampler up and start the worker.
        feed(node, std::vector<float>(audio.begin(), audio.begin() + std::max(blockFrames, static_cast<std::size_t>(rate / 10))),
             rate, blockFrames);
        ASSERT_TRUE(node.transcriptionWorker().running());

        AllocationCounter counter;
        counter.start();
        feed(node, audio, rate, blockFrames);
        counter.stop();
        EXPECT_TRUE(counter.count() == 0 && counter.lockCount() == 0) << counter.count() << " allocations, "
                                                                      << counter.lockCount() << " locks";
    }
}

// A run reads the counter and then copies its window from the oldest retained
// sample on. A host block arriving in between, even 8192 frames at 8 kHz,
// must not reach those samples.
TEST(NodeAudioThread, OneBlockLeavesTheAudioARunIsAboutToCopyInPlace)
{
    WhisperSTTNode node({{"initializeModel", false}});
    auto& intake = node.audioIntake();
    feed(node, sine(300.0, 8000.0, 35.0), 8000.0, 8192);
    const uint64_t total = intake.totalSamples();
    const uint32_t retained = intake.kHistoryCapacity;
    const float* oldest = intake.ring().window(intake.ring().ringPositionOf(total - retained));
    const std::vector<float> before(oldest, oldest + retained);

    feed(node, std::vector<float>(8192, 0.9f), 8000.0, 8192);
    ASSERT_GT(intake.totalSamples() - total, 16000u) << "one block brings more than a second";
    EXPECT_TRUE(std::equal(before.begin(), before.end(), oldest));
}

} // namespace
} // namespace corvane::test
