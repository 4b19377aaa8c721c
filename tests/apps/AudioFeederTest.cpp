// The feeding thread: exact positions, 10 ms blocks at the file's rate,
// silence after the file, nothing allocated while it feeds; and the queue
// that brings events back from the node's worker thread.

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "AudioFeeder.h"
#include "TranscriptionQueue.h"

namespace corvane::cli {
namespace {

/// Records what consume() receives into storage made up front (room for
/// twice the frames expected), and counts the feeding thread's allocations
/// from its first block until the frames expected have arrived.
class RecordingSink : public AudioSinkNode {
public:
    explicit RecordingSink(std::uint64_t framesExpected) : received(2 * framesExpected), expected(framesExpected) {}

    bool setBusFormats(AudioBusFormatList&) override { return true; }

    bool consume(AudioBusList& buses) override
    {
        const AudioBuffer<float>& buffer = buses.getBus(0).getBuffer();
        if (frames == 0)
            counter.start();
        largestBlock = std::max(largestBlock, buffer.getNumberOfFrames());
        rateSeen = buffer.getSampleRate();
        channelsSeen = buffer.getNumberOfChannels();
        std::copy_n(buffer.getReadPointer(0), buffer.getNumberOfFrames(), received.begin() + frames);
        frames += buffer.getNumberOfFrames();
        if (frames >= expected)
            counter.stop();
        return true;
    }

    std::vector<float> received;
    std::uint64_t expected;
    std::uint64_t frames = 0; // feeding thread only until the feeder is gone
    std::uint32_t largestBlock = 0;
    double rateSeen = 0.0;
    std::uint32_t channelsSeen = 0;
    test::AllocationCounter counter;
};

void waitFor(const AudioFeeder& feeder, std::uint64_t frame)
{
    while (feeder.getFramesFed() < frame)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(AudioFeeder, StopsExactlyAtEachTargetThenFlushesWithSilenceAllocatingNothing)
{
    std::vector<float> file(2 * 44100 + 37); // not a whole number of 441-frame blocks
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = 0.5f + static_cast<float>(i % 1000) / 4000.0f;
    const std::uint64_t total = file.size() + 4410;
    RecordingSink sink(total);
    {
        AudioFeeder feeder(sink, file, 44100.0, false);
        ASSERT_EQ(feeder.getTotalFrames(), total);
        feeder.start();
        feeder.feedUntil(1000);
        waitFor(feeder, 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(feeder.getFramesFed(), 1000u);
        // Stops on the way, as at every step of a transcription.
        for (std::uint64_t step = 21000; step < total; step += 20000) {
            feeder.feedUntil(step);
            waitFor(feeder, step);
        }
        feeder.feedUntil(total + 999); // capped at the end of the flush
        waitFor(feeder, total);
    }
    ASSERT_EQ(sink.frames, total); // so the counting has stopped
    EXPECT_EQ(sink.largestBlock, 441u);
    EXPECT_EQ(sink.rateSeen, 44100.0);
    EXPECT_EQ(sink.channelsSeen, 1u);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), sink.received.begin()));
    EXPECT_TRUE(std::all_of(sink.received.begin() + static_cast<std::ptrdiff_t>(file.size()),
                            sink.received.begin() + static_cast<std::ptrdiff_t>(total),
                            [](float sample) { return sample == 0.0f; }));
    EXPECT_EQ(sink.counter.count(), 0u);
    EXPECT_EQ(sink.counter.lockCount(), 0u);
}

TEST(TranscriptionQueue, HandsEventsOverInOrderAndTimesOut)
{
    TranscriptionQueue queue;
    EXPECT_EQ(queue.pop(std::chrono::milliseconds(0)), std::nullopt);

    std::thread worker([&queue] {
        queue.push(CVAny(CVAnyMap{{"text", " one"}, {"processingTime", 12}}));
        queue.push(CVAny(CVAnyMap{{"text", "two"}, {"processingTime", 3}}));
    });
    const auto first = queue.pop(std::chrono::seconds(10));
    const auto second = queue.pop(std::chrono::seconds(10));
    worker.join();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->text, " one");
    EXPECT_EQ(first->processingTimeMs, 12);
    EXPECT_EQ(second->text, "two");

    EXPECT_ANY_THROW(queue.push(CVAny(CVAnyMap{{"text", "no time"}})));
    EXPECT_EQ(queue.pop(std::chrono::milliseconds(0)), std::nullopt);
}

} // namespace
} // namespace corvane::cli
