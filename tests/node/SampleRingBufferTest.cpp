#include "SampleRingBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

using corvane::extensions::whisper::SampleRingBuffer;

namespace {

// Every sample carries its own absolute index (modulo 2^24, where floats are
// still exact), so any sample read back names the place it came from.
float sampleFor(uint64_t absoluteIndex)
{
    return static_cast<float>(absoluteIndex % (uint64_t { 1 } << 24));
}

void writeCounting(SampleRingBuffer& ring, uint32_t n)
{
    const uint64_t first = ring.totalSamples();
    std::vector<float> block(n);
    for (uint32_t i = 0; i < n; ++i)
        block[i] = sampleFor(first + i);
    ring.write(block.data(), n);
}

// The retained samples sit at their ring positions and in the mirror, the
// mirror matches the ring everywhere, and the oldest retained sample starts a
// contiguous run of all of them.
void expectRingHoldsHistory(const SampleRingBuffer& ring)
{
    const uint64_t total = ring.totalSamples();
    const uint32_t capacity = ring.capacity();
    ASSERT_EQ(ring.count(), std::min<uint64_t>(total, capacity));
    ASSERT_EQ(ring.writeIndex(), total % capacity);

    const float* storage = ring.data();
    for (uint32_t p = 0; p < capacity; ++p)
        ASSERT_EQ(storage[p], storage[p + capacity]) << "mirror differs at ring position " << p;

    const uint64_t oldest = total - ring.count();
    const float* run = ring.window(ring.ringPositionOf(oldest));
    for (uint64_t i = oldest; i < total; ++i) {
        ASSERT_EQ(storage[ring.ringPositionOf(i)], sampleFor(i)) << "absolute index " << i;
        ASSERT_EQ(run[i - oldest], sampleFor(i)) << "contiguous run, absolute index " << i;
    }
}

} // namespace

TEST(SampleRingBuffer, RefusesZeroCapacity)
{
    EXPECT_THROW(SampleRingBuffer ring(0), std::invalid_argument);
}

TEST(SampleRingBuffer, DeliveryCrossingTheEndWrapsToTheStart)
{
    constexpr uint32_t capacity = 1000;
    SampleRingBuffer ring(capacity);
    writeCounting(ring, capacity - 100);
    writeCounting(ring, 300);

    // The first 100 at the last 100 positions, the other 200 at 0..199; each
    // in the mirror as well.
    const float* storage = ring.data();
    for (uint32_t k = 0; k < 300; ++k) {
        const uint32_t position = k < 100 ? capacity - 100 + k : k - 100;
        EXPECT_EQ(storage[position], sampleFor(900 + k)) << k;
        EXPECT_EQ(storage[capacity + position], sampleFor(900 + k)) << k;
    }
    EXPECT_EQ(ring.writeIndex(), 200u);
    EXPECT_EQ(ring.totalSamples(), 1200u);
    expectRingHoldsHistory(ring);
}

TEST(SampleRingBuffer, DeliveriesOfAnySizeKeepTheHistoryIntact)
{
    struct Case {
        uint32_t capacity;
        std::vector<uint32_t> deliveries;
        uint64_t total;
        uint32_t writeIndex;
    };
    const Case cases[] = {
        { 777, { 777 }, 777, 0 },             // exactly one ring
        { 1000, { 300, 2500 }, 2800, 800 },   // longer than the ring: its newest 1000 stay
    };
    for (const Case& c : cases) {
        SampleRingBuffer ring(c.capacity);
        for (const uint32_t n : c.deliveries)
            writeCounting(ring, n);
        EXPECT_EQ(ring.totalSamples(), c.total);
        EXPECT_EQ(ring.writeIndex(), c.writeIndex);
        EXPECT_EQ(ring.count(), c.capacity);
        expectRingHoldsHistory(ring);
    }

    SampleRingBuffer ring(1237); // not a power of two, smaller than most blocks
    std::mt19937 random(12345);
    std::uniform_int_distribution<uint32_t> blockSize(1, 8192);
    for (int delivery = 0; delivery < 400 && !HasFatalFailure(); ++delivery) {
        writeCounting(ring, delivery % 50 == 49 ? 5 * ring.capacity() + 17 : blockSize(random));
        expectRingHoldsHistory(ring);
    }
}

// The audio thread writes while a reader checks every sample it is allowed to
// see. The writer stays less than half a ring ahead of what the reader has
// checked, so no sample the reader may still look at is overwritten; a
// counter published before its samples, or a wrong position or mirror, shows
// up as a wrong value.
TEST(SampleRingBuffer, ReaderSeesEverySampleTheCounterPublishes)
{
    constexpr uint32_t capacity = 16411; // more than twice the largest block
    constexpr uint64_t samplesToWrite = 6'000'000;
    SampleRingBuffer ring(capacity);
    std::atomic<uint64_t> verified { 0 };
    std::atomic<uint64_t> mismatches { 0 };

    std::thread reader([&] {
        for (uint64_t next = 0; next < samplesToWrite;) {
            const uint64_t total = ring.totalSamples();
            if (total == next) {
                std::this_thread::yield();
                continue;
            }
            // One contiguous read through the mirror, as a transcription run does.
            const float* run = ring.window(ring.ringPositionOf(next));
            for (uint64_t i = next; i < total; ++i)
                if (run[i - next] != sampleFor(i))
                    mismatches.fetch_add(1, std::memory_order_relaxed);
            next = total;
            verified.store(next, std::memory_order_release);
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
    EXPECT_EQ(ring.totalSamples(), samplesToWrite);
    expectRingHoldsHistory(ring);
}

// The node's runs copy a window and leave; the writer comes round to those
// samples much later, with nothing else between the two threads. endRead()
// orders the copy before the overwrite, so ThreadSanitizer (which runs this
// suite) sees no race; the hand-shake here is relaxed and orders nothing.
TEST(SampleRingBuffer, AFinishedReadIsOrderedBeforeTheWriterComesRound)
{
    constexpr uint32_t capacity = 4096;
    SampleRingBuffer ring(capacity);
    writeCounting(ring, capacity);

    std::vector<float> copy(capacity);
    std::atomic<bool> copied { false };
    std::thread reader([&] {
        const uint64_t total = ring.totalSamples();
        std::copy_n(ring.window(ring.ringPositionOf(total - capacity)), capacity, copy.begin());
        ring.endRead();
        copied.store(true, std::memory_order_relaxed);
    });
    while (!copied.load(std::memory_order_relaxed))
        std::this_thread::yield();
    writeCounting(ring, 2 * capacity);
    reader.join();

    for (uint32_t i = 0; i < capacity; ++i)
        ASSERT_EQ(copy[i], sampleFor(i));
    expectRingHoldsHistory(ring);
}
