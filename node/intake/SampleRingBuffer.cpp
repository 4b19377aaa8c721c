#include "SampleRingBuffer.h"

#include <algorithm>
#include <stdexcept>

namespace corvane::extensions::whisper {

SampleRingBuffer::SampleRingBuffer(uint32_t capacity, uint64_t firstIndex)
    : ringCapacity(capacity)
    , total(firstIndex)
{
    if (capacity == 0)
        throw std::invalid_argument("SampleRingBuffer: capacity must be at least 1");
    samples.assign(std::size_t { capacity } * 2, 0.0f);
}

uint32_t SampleRingBuffer::count() const noexcept
{
    return static_cast<uint32_t>(std::min<uint64_t>(totalSamples(), ringCapacity));
}

void SampleRingBuffer::write(const float* data, uint32_t n) noexcept
{
    // Chunks of at most one ring: each chunk lands whole before its counter is
    // published, so a reader never sees a total whose samples are not there.
    while (n > 0) {
        const uint32_t chunk = std::min(n, ringCapacity);
        writeChunk(data, chunk);
        data += chunk;
        n -= chunk;
    }
}

void SampleRingBuffer::writeChunk(const float* data, uint32_t n) noexcept
{
    // Pairs with endRead(): whatever a reader has finished reading is behind
    // us before these samples go over it. A plain load on the common CPUs.
    (void)readsEnded.load(std::memory_order_acquire);
    // Only this thread changes the counter, so a relaxed load is current.
    const uint64_t before = total.load(std::memory_order_relaxed);
    const uint32_t position = ringPositionOf(before);
    const uint32_t untilEnd = std::min(n, ringCapacity - position);

    float* const ring = samples.data();
    float* const mirror = ring + ringCapacity;
    std::copy_n(data, untilEnd, ring + position);
    std::copy_n(data, untilEnd, mirror + position);
    if (untilEnd < n) {
        std::copy_n(data + untilEnd, n - untilEnd, ring);
        std::copy_n(data + untilEnd, n - untilEnd, mirror);
    }

    total.store(before + n, std::memory_order_release);
}

} // namespace corvane::extensions::whisper
