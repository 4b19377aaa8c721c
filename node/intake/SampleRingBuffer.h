#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane::extensions::whisper {

/// Threads: write() from the audio thread only; every other method from any thread.
///
/// The node's sample history: a ring of `capacity` samples followed by a mirror
/// of itself, so that any run of up to `capacity` samples that starts at a ring
/// position is contiguous in memory and whisper.cpp can read it in place.
///
/// The only shared state is the absolute sample counter. The writer stores the
/// samples first and then publishes the counter with a release store; a reader
/// that acquire-loads a total T may read every sample with absolute index < T
/// that is still retained (index >= T - count()). Samples the writer is about
/// to overwrite are the reader's to avoid: a reader must be done with a run
/// before the writer can come round to it again, and says so with endRead(),
/// which orders its reads before the writer's later overwrite of them.
class SampleRingBuffer {
public:
    /// Allocates 2 x capacity floats, all 0.0f. Throws std::invalid_argument
    /// when capacity is 0. firstIndex is the absolute index of the first
    /// sample written: 0 for a new stream; a later value stands for a stream
    /// that has already run that long (the ring then reads as silence), which
    /// is how counters near 2^32 are reached without hours of audio.
    explicit SampleRingBuffer(uint32_t capacity, uint64_t firstIndex = 0);

    SampleRingBuffer(const SampleRingBuffer&) = delete;
    SampleRingBuffer& operator=(const SampleRingBuffer&) = delete;

    /// Audio thread. Never locks, allocates or throws. A delivery longer than
    /// the ring keeps only its newest capacity() samples; the counters advance
    /// by all n.
    void write(const float* data, uint32_t n) noexcept;

    /// Number of samples ever written, which is also the absolute index of the
    /// next one.
    uint64_t totalSamples() const noexcept { return total.load(std::memory_order_acquire); }
    uint32_t capacity() const noexcept { return ringCapacity; }
    /// Retained samples: min(totalSamples(), capacity()).
    uint32_t count() const noexcept;
    /// Ring position of the next sample.
    uint32_t writeIndex() const noexcept { return ringPositionOf(totalSamples()); }

    /// Start of the storage: the ring, then its mirror.
    const float* data() const noexcept { return samples.data(); }

    uint32_t ringPositionOf(uint64_t absoluteIndex) const noexcept
    {
        return static_cast<uint32_t>(absoluteIndex % ringCapacity);
    }

    /// Start of the run at ringPosition (< capacity()); valid for up to
    /// capacity() samples.
    const float* window(uint32_t ringPosition) const noexcept { return samples.data() + ringPosition; }

    /// A reader that is done with the samples it read (any thread). The
    /// writer acquires this before every chunk, so its overwriting of those
    /// samples happens after the reads, in the memory model's terms as well
    /// as in time; without it the two are a data race however far apart.
    void endRead() noexcept { readsEnded.fetch_add(1, std::memory_order_release); }

private:
    void writeChunk(const float* data, uint32_t n) noexcept;

    const uint32_t ringCapacity;
    std::vector<float> samples;
    std::atomic<uint64_t> total { 0 };
    std::atomic<uint64_t> readsEnded { 0 };
};

} // namespace corvane::extensions::whisper
