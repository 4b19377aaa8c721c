#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <corvane/audio/AudioBus.h>
#include <corvane/graph/AudioSinkNode.h>


namespace corvane::cli {

/// An SDL2 capture device, opened mono at the device's own rate, whose audio
/// callback feeds a node: the host's audio thread.
///
/// Threads: the control thread opens, starts, polls and closes it. SDL's
/// audio thread runs the callback, which only converts the block into a bus
/// and hands it on: no lock, no allocation, no blocking, no exception. The
/// two share atomics; SDL's own device lock orders start() and close()
/// against the callback.
class CaptureDevice {
public:
    /// Names of the capture devices SDL can see; raises CommandError when
    /// SDL's audio cannot start.
    static std::vector<std::string> listNames();

    /// Opens the device (empty name: the default one), paused. Raises
    /// CommandError with SDL's reason when there is none or it cannot open.
    explicit CaptureDevice(const std::string& name);
    ~CaptureDevice();

    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    double getSampleRate() const noexcept { return sampleRate; }
    const std::string& getName() const noexcept { return name; }

    /// Starts delivering to node, which must outlive close().
    void start(AudioSinkNode& node);
    /// Frames delivered so far.
    std::uint64_t getFramesCaptured() const noexcept { return framesCaptured.load(std::memory_order_acquire); }
    /// SDL has stopped the device (unplugged, or its driver failed).
    bool hasFailed() const noexcept;
    /// Stops the callback for good; after this the caller may feed the node
    /// itself.
    void close() noexcept;
    /// Feeds this much silence as the callback would, after close(): flushes
    /// what the converters still hold.
    void feedSilence(double seconds);

private:
    static void onAudio(void* self, std::uint8_t* stream, int length) noexcept;
    void deliver(float* samples, std::uint32_t frames) noexcept;

    std::string name;
    std::uint32_t device = 0;
    double sampleRate = 0.0;
    AudioSinkNode* node = nullptr;
    AudioBusArray<1> buses;
    std::atomic<std::uint64_t> framesCaptured{0};
};

} // namespace corvane::cli
