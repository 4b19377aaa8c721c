// The feeding thread: exact positions, 10 ms blocks at the file's rate,
// silence after the file, nothing allocated while it feeds; and the queue
// that brings events back from the node's worker thread.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "AudioFeeder.h"
#include "TranscriptionQueue.h"

namespace corvane::cli {
namespace {

/// Records what consume() receives into storage made up front. With
/// countUntil > 0 it counts the feeding thread's allocations from its first
/// block until that many frames have arrived.
class RecordingSink : public AudioSinkNode {
public:
    RecordingSink(std::size_t capacity, std::uint64_t countUntilFrames)
        : received(capacity, -1.0f), countUntil(countUntilFrames) {}

    bool setBusFormats(AudioBusFormatList&) override { return true; }

    bool consume(AudioBusList& buses) override
    {
        const AudioBuffer<float>& buffer = buses.getBus(0).getBuffer();
        if (frames == 0 && countUntil > 0)
            counter.start();
        largestBlock = std::max(largestBlock, buffer.getNumberOfFrames());
        rateSeen = buffer.getSampleRate();
        channelsSeen = buffer.getNumberOfChannels();
        std::copy_n(buffer.getReadPointer(0), buffer.getNumberOfFrames(), received.begin() + frames);
        frames += buffer.getNumberOfFrames();
        if (countUntil > 0 && frames >= countUntil && !counted) {
            counter.stop();
            counted = true;
        }
        return true;
    }

    std::vector<float> received;
    std::uint64_t countUntil;
    std::uint64_t frames = 0; // feeding thread only until the feeder is gone
    std::uint32_t largestBlock = 0;
    double rateSeen = 0.0;
    std::uint32_t channelsSeen = 0;
    test::AllocationCounter counter;
    bool counted = false;
};

void waitFor(const AudioFeeder& feeder, std::uint64_t frame)
{
    while (feeder.getFramesFed() < frame)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::vector<float> ramp(std::size_t frames)
{
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = 0.5f + static_cast<float>(i % 1000) / 4000.0f;
    return samples;
}

TEST(AudioFeeder, StopsExactlyAtEachTargetThenFlushesWithSilence)
{
    std::vector<float> file = ramp(44100 + 37);
    RecordingSink sink(file.size() + 44100, 0);
    std::uint64_t total = 0;
    {
        AudioFeeder feeder(sink, file, 44100.0, false);
        total = feeder.getTotalFrames();
        EXPECT_EQ(total, file.size() + 4410);
        feeder.start();
        feeder.feedUntil(1000);
        waitFor(feeder, 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(feeder.getFramesFed(), 1000u);
        feeder.feedUntil(total + 999); // capped at the end of the flush
        waitFor(feeder, total);
    }
    EXPECT_EQ(sink.frames, total);
    EXPECT_EQ(sink.largestBlock, 441u);
    EXPECT_EQ(sink.rateSeen, 44100.0);
    EXPECT_EQ(sink.channelsSeen, 1u);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), sink.received.begin()));
    EXPECT_TRUE(std::all_of(sink.received.begin() + static_cast<std::ptrdiff_t>(file.size()),
                            sink.received.begin() + static_cast<std::ptrdiff_t>(total),
                            [](float sample) { return sample == 0.0f; }));
}

TEST(AudioFeeder, TheFeedingThreadAllocatesNothingAndTakesNoLock)
{
    std::vector<float> file = ramp(48000 * 3);
    RecordingSink sink(file.size() + 48000, file.size() + 4800);
    {
        AudioFeeder feeder(sink, file, 48000.0, false);
        feeder.start();
        // Stops on the way, as at every step of a transcription.
        for (std::uint64_t step = 20000; step < feeder.getTotalFrames(); step += 20000) {
            feeder.feedUntil(step);
            waitFor(feeder, step);
        }
        feeder.feedUntil(feeder.getTotalFrames());
        waitFor(feeder, feeder.getTotalFrames());
    }
    ASSERT_TRUE(sink.counted);
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
