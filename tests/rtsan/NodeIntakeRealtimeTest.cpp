// consume() under RealtimeSanitizer: once the resampler is set up for the
// input rate and the worker has started, the node's audio-thread path makes
// no call that can block (allocation, lock, sleep, I/O), at any rate and
// block size and while a transcription runs beside it.

#include <cstdlib>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "NodeTestSupport.h"
#include "RealtimeScope.h"

// Runtimes from LLVM 20 on read their options here; LLVM 19's always ends the
// process on the first finding.
extern "C" const char* __rtsan_default_options()
{
    return "halt_on_error=1";
}

namespace corvane::test {
namespace {

/// Feeds one block with the calling thread marked realtime.
void consumeInRealtime(WhisperSTTNode& node, const float* samples, uint32_t frames, double rate)
{
    AudioBus bus;
    bus.setBuffer(AudioBuffer<float>(const_cast<float*>(samples), frames, rate));
    RealtimeScope realtime;
    node.consume(bus);
}

/// Feeds audio in blocks; the block that changes the rate, and the blocks
/// before the first delivery (which starts the worker), run unmarked: they
/// allocate by design.
void feedInRealtime(WhisperSTTNode& node, const std::vector<float>& samples, double rate, std::size_t blockFrames)
{
    WhisperSTTNode::Impl& state = node.getImpl();
    for (std::size_t offset = 0; offset < samples.size(); offset += blockFrames) {
        const auto frames = static_cast<uint32_t>(std::min(blockFrames, samples.size() - offset));
        if (state.workerStarted && state.resampler->getInputSampleRate() == rate) {
            consumeInRealtime(node, samples.data() + offset, frames, rate);
        } else {
            AudioBus bus;
            bus.setBuffer(AudioBuffer<float>(const_cast<float*>(samples.data() + offset), frames, rate));
            node.consume(bus);
        }
    }
}

bool failed(int status)
{
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Without these the other tests could pass merely because the runtime is not
// linked in or not watching.
TEST(RealtimeSanitizerIsWatching, AnAllocationInTheScopeEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RealtimeScope realtime;
            void* volatile block = std::malloc(64);
            std::free(block);
        },
        failed, "Real-time violation");
}

TEST(RealtimeSanitizerIsWatching, ALockInTheScopeEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::mutex mutex;
    EXPECT_EXIT(
        {
            RealtimeScope realtime;
            std::lock_guard<std::mutex> lock(mutex);
        },
        failed, "Real-time violation");
}

struct IntakeCase {
    double rate;
    std::size_t blockFrames;
};

class NodeIntakeRealtime : public ::testing::TestWithParam<IntakeCase> {};

TEST_P(NodeIntakeRealtime, SteadyIntakeMakesNoBlockingCall)
{
    const auto [rate, blockFrames] = GetParam();
    WhisperSTTNode node({{"initializeModel", false}});
    feedInRealtime(node, sine(300.0, rate, 3.0), rate, blockFrames);
    EXPECT_TRUE(node.getImpl().workerStarted);
    // Less the converter's delay, which stays inside it.
    EXPECT_NEAR(static_cast<double>(node.getImpl().totalSamples() + node.getImpl().resampler->getLatencyFrames()),
                48000.0, 2.0);
}

INSTANTIATE_TEST_SUITE_P(RatesAndBlocks, NodeIntakeRealtime,
                         ::testing::Values(IntakeCase{48000.0, 480}, IntakeCase{44100.0, 441},
                                           IntakeCase{16000.0, 160}, IntakeCase{96000.0, 8192},
                                           IntakeCase{22050.0, 1}, IntakeCase{8000.0, 8192},
                                           IntakeCase{8000.0, 4096}, IntakeCase{48000.0, 7}),
                         [](const ::testing::TestParamInfo<IntakeCase>& info) {
                             return std::to_string(static_cast<int>(info.param.rate)) + "Hz_" +
                                    std::to_string(info.param.blockFrames) + "Frames";
                         });

TEST(NodeIntakeRealtimeAcrossChanges, OnlyTheBlockThatChangesTheRateMayAllocate)
{
    WhisperSTTNode node({{"initializeModel", false}});
    for (const double rate : {48000.0, 44100.0, 16000.0, 96000.0, 8000.0, 22050.0, 48000.0})
        feedInRealtime(node, sine(440.0, rate, 0.5), rate, 256);
    EXPECT_EQ(node.getImpl().resampler->getInputSampleRate(), 48000.0);
}

TEST(NodeIntakeRealtimeAcrossChanges, IntakeBesideARunningTranscription)
{
    WhisperSTTNode node(testModelConfig({{"numberOfThreads", 1}}));
    EventRecorder events(node);
    const std::vector<float> tenth = sine(440.0, 48000.0, 0.1);
    for (int i = 0; i < 10; ++i)
        feedInRealtime(node, tenth, 48000.0, 480);
    ASSERT_TRUE(node.callAction("transcribe", {}).isOk());

    // The worker holds the model's lock and runs whisper.cpp meanwhile; the
    // audio goes on at about real time, as a sound card would send it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (events.named("transcribed").empty() && std::chrono::steady_clock::now() < deadline) {
        feedInRealtime(node, tenth, 48000.0, 480);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(events.named("transcribed").size(), 1u);
}

} // namespace
} // namespace corvane::test
