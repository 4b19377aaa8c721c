#include "SampleRingBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

using corvane::extensions::whisper::SampleRingBuffer;

namespace {

// Each sample carries its absolute index (modulo 2^24, where floats are exact).
float sampleFor(uint64_t index)
{
    return static_cast<float>(index % (uint64_t{1} << 24));
}

void writeCounting(SampleRingBuffer& ring, uint32_t n)
{
    std::vector<float> block(n);
    for (uint32_t i = 0; i < n; ++i)
        block[i] = sampleFor(ring.totalSamples() + i);
    ring.write(block.data(), n);
}

} // namespace

// Every retained sample sits at its ring position and in the mirror, so the
// oldest one starts a contiguous run of all of them.
TEST(SampleRingBuffer, DeliveriesOfAnySizeKeepTheHistoryIntact)
{
    SampleRingBuffer ring(1237); // not a power of two, smaller than most blocks
    std::mt19937 random(12345);
    std::uniform_int_distribution<uint32_t> blockSize(1, 8192);
    for (int delivery = 0; delivery < 400; ++delivery) {
        // Now and then one longer than the ring: only its newest samples stay.
        writeCounting(ring, delivery % 50 == 49 ? 5 * ring.capacity() + 17 : blockSize(random));
        const uint64_t total = ring.totalSamples(), oldest = total - ring.count();
        ASSERT_EQ(ring.count(), std::min<uint64_t>(total, ring.capacity()));
        const float* run = ring.window(ring.ringPositionOf(oldest));
        for (uint64_t i = oldest; i < total; ++i) {
            ASSERT_EQ(ring.data()[ring.ringPositionOf(i)], sampleFor(i)) << "absolute index " << i;
            ASSERT_EQ(run[i - oldest], sampleFor(i)) << "contiguous run, absolute index " << i;
        }
    }
}

// The writer stays less than half a ring ahead of what the reader has checked,
// so a counter published before its samples, or a wrong position or mirror,
// shows as a wrong value.
TEST(SampleRingBufferConcurrency, ReaderSeesEverySampleTheCounterPublishes)
{
    constexpr uint32_t capacity = 16411;
    constexpr uint64_t samplesToWrite = 6'000'000;
    SampleRingBuffer ring(capacity);
    std::atomic<uint64_t> verified{0}, mismatches{0};

    std::thread reader([&] {
        for (uint64_t next = 0; next < samplesToWrite;) {
            const uint64_t total = ring.totalSamples();
            const float* run = ring.window(ring.ringPositionOf(next)); // one read through the mirror, as a run does
            for (uint64_t i = next; i < total; ++i)
                mismatches += run[i - next] != sampleFor(i) ? 1 : 0;
            next = total;
            verified.store(next, std::memory_order_release);
            std::this_thread::yield();
        }
    });
    std::mt19937 random(777);
    std::uniform_int_distribution<uint32_t> blockSize(1, 8192);
    for (uint64_t written = 0; written < samplesToWrite;) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(blockSize(random), samplesToWrite - written));
        while (written + n - verified.load(std::memory_order_acquire) > capacity / 2)
            std::this_thread::yield();
        writeCounting(ring, n);
        written += n;
    }
    reader.join();
    EXPECT_EQ(mismatches.load(), 0u);
}

// A run copies its window and calls endRead(); the writer comes round to those
// samples later with nothing else between the threads (the hand-shake here is
// relaxed). ThreadSanitizer, which runs this suite, sees a race without it.
TEST(SampleRingBufferConcurrency, AFinishedReadIsOrderedBeforeTheWriterComesRound)
{
    SampleRingBuffer ring(4096);
    writeCounting(ring, 4096);
    std::vector<float> copy(4096);
    std::atomic<bool> copied{false};
    std::thread reader([&] {
        std::copy_n(ring.window(ring.ringPositionOf(0)), copy.size(), copy.begin());
        ring.endRead();
        copied.store(true, std::memory_order_relaxed);
    });
    while (!copied.load(std::memory_order_relaxed))
        std::this_thread::yield();
    writeCounting(ring, 8192);
    reader.join();
    EXPECT_EQ(copy[4095], sampleFor(4095));
}
