#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include <corvane/graph/AudioSinkNode.h>


namespace corvane::cli {

/// Plays one file into a node from a thread of its own, the host's audio
/// thread: consume() in 10 ms blocks at the file's rate, then silence to flush
/// the node's resampler. It feeds only up to a target frame that the control
/// thread moves forward, so the control thread can act at exact positions.
///
/// Threads: the control thread constructs, calls start(), feedUntil(),
/// getFramesFed() and destroys; the feeding thread calls node.consume() and
/// publishes its progress.
/// They share only atomics: the feeding thread never locks, never allocates
/// and never throws.
class AudioFeeder {
public:
    /// Silence fed after the file: longer than any resampler's delay.
    static constexpr double kFlushSeconds = 0.1;

    /// samples and node must outlive the feeder. realtime: deliver each block
    /// when a live source would have it complete, instead of at once.
    AudioFeeder(AudioSinkNode& node, std::span<float> samples, double sampleRate, bool realtime);
    /// Stops the feeding thread, mid-file if need be.
    ~AudioFeeder();

    AudioFeeder(const AudioFeeder&) = delete;
    AudioFeeder& operator=(const AudioFeeder&) = delete;

    /// Starts the feeding thread; it waits for a target.
    void start();
    /// Lets the feeding thread go on up to this frame, counting the flush
    /// silence after the file (capped at getTotalFrames()).
    void feedUntil(std::uint64_t frame) noexcept;
    /// Frames delivered so far, silence included.
    std::uint64_t getFramesFed() const noexcept { return framesFed.load(std::memory_order_acquire); }
    /// consume() calls that returned false.
    std::uint64_t getRefusedBlocks() const noexcept { return refusedBlocks.load(std::memory_order_relaxed); }

    std::uint64_t getFileFrames() const noexcept { return samples.size(); }
    /// The file and the flush silence.
    std::uint64_t getTotalFrames() const noexcept { return samples.size() + flushFrames; }
    std::uint32_t getBlockFrames() const noexcept { return blockFrames; }
    double getSampleRate() const noexcept { return sampleRate; }

private:
    void run() noexcept;

    AudioSinkNode& node;
    std::span<float> samples;
    const double sampleRate;
    const bool realtime;
    const std::uint32_t blockFrames;
    const std::uint64_t flushFrames;
    /// One block of zeros, made before the thread starts.
    std::vector<float> silence;

    std::atomic<std::uint64_t> targetFrame{0};
    std::atomic<std::uint64_t> framesFed{0};
    std::atomic<std::uint64_t> refusedBlocks{0};
    std::atomic<bool> stopRequested{false};
    std::thread thread;
};

} // namespace corvane::cli
