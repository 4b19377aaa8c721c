#pragma once

#include <cstdint>
#include <memory>

#include <corvane/audio/AudioBus.h>
#include <corvane/audio/AudioGraphResampler.h>

#include "SampleRingBuffer.h"
#include "TranscriptionWindow.h"

namespace corvane::extensions::whisper {

/// The node's ears: converts whatever mono audio arrives to 16 kHz and keeps
/// the newest 30 s of it, every sample under its absolute index.
///
/// Threads: consume() and receivedAudio() on the host's audio thread only;
/// totalSamples() and readWindow() from any thread (the worker copies windows
/// while audio goes on arriving).
class AudioIntake {
public:
    static constexpr double kSampleRate = 16000.0;
    /// What the node promises to keep: 30 s.
    static constexpr uint32_t kHistoryCapacity = 480000;
    /// The ring stores two seconds more than it promises to keep. A run reads
    /// the sample counter, then copies its window oldest sample first; a host
    /// block delivered in between lands at once (8192 frames at 8 kHz are
    /// 16384 samples here) and must still fall short of the oldest retained
    /// sample, with about a second of real time to spare for the copy.
    static constexpr uint32_t kRingMargin = 32000;

    AudioIntake();
    ~AudioIntake();

    AudioIntake(const AudioIntake&) = delete;
    AudioIntake& operator=(const AudioIntake&) = delete;

    /// Audio thread. Resamples the block to 16 kHz and appends it to the
    /// history. Allocates only when the input rate or layout changes (the
    /// resampler sets itself up again), never locks, never throws out of the
    /// history. False when the resampler cannot take the block.
    bool consume(AudioBus& bus);
    /// Audio thread: whether any 16 kHz audio has reached the history yet.
    bool receivedAudio() const noexcept { return audioReceived; }

    /// Absolute index of the next 16 kHz sample (samples ever received).
    uint64_t totalSamples() const noexcept { return history->totalSamples(); }
    /// Absolute index of the first sample (0 unless startCountingAt()).
    uint64_t firstSampleIndex() const noexcept { return firstIndex; }
    /// Frames the resampler has delivered; equals totalSamples() unless the
    /// intake lost some on the way.
    uint64_t framesDelivered() const noexcept { return resampler->getTotalFramesDelivered(); }

    /// Any thread. Places [start, end) (low 32 bits of absolute indices)
    /// against the retained 30 s and copies what the history holds of it to
    /// `into`, which must have room for kHistoryCapacity samples. The copy is
    /// taken at once, while the ring's margin still keeps the audio thread off
    /// the oldest samples.
    WindowPlacement readWindow(uint32_t start, uint32_t end, float* into) const noexcept;

    /// The ring itself, for tests and benchmarks that fill or inspect it
    /// without an audio thread.
    SampleRingBuffer& ring() noexcept { return *history; }
    /// Starts the count at `firstIndex` as if that much audio had already
    /// passed, so that tests reach the counters of days-long streams. Only
    /// before any audio has arrived.
    void startCountingAt(uint64_t firstIndex);

private:
    bool onResampledAudio(AudioBus& bus) noexcept;

    std::unique_ptr<SampleRingBuffer> history;
    std::unique_ptr<AudioGraphResampler> resampler;
    uint64_t firstIndex = 0;
    bool audioReceived = false;
};

} // namespace corvane::extensions::whisper
