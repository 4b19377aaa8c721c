#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace corvane {

/// A non-owning view of planar audio: up to kMaxChannels channel pointers, a
/// frame count and the rate the frames were recorded at. Copying a view never
/// copies audio, so buffers can be handed along the graph on the audio thread.
/// OwnedAudioBuffer below provides storage for a view.
template <typename SampleType>
class AudioBuffer {
public:
    static constexpr std::uint32_t kMaxChannels = 8;

    AudioBuffer() = default;

    /// channels must point at numberOfChannels pointers (at most kMaxChannels;
    /// extra channels are ignored), each valid for numberOfFrames samples.
    AudioBuffer(SampleType* const* channels, std::uint32_t numberOfChannels,
                std::uint32_t numberOfFrames, double sampleRate) noexcept
        : channelCount(numberOfChannels < kMaxChannels ? numberOfChannels : kMaxChannels),
          frameCount(numberOfFrames),
          rate(sampleRate)
    {
        for (std::uint32_t c = 0; c < channelCount; ++c)
            channelPointers[c] = channels[c];
    }

    /// A mono view of one contiguous block.
    AudioBuffer(SampleType* mono, std::uint32_t numberOfFrames, double sampleRate) noexcept
        : AudioBuffer(&mono, 1, numberOfFrames, sampleRate) {}

    std::uint32_t getNumberOfChannels() const noexcept { return channelCount; }
    std::uint32_t getNumberOfFrames() const noexcept { return frameCount; }
    double getSampleRate() const noexcept { return rate; }

    /// Null for a channel the buffer does not have.
    const SampleType* getReadPointer(std::uint32_t channel) const noexcept
    {
        return channel < channelCount ? channelPointers[channel] : nullptr;
    }
    SampleType* getWritePointer(std::uint32_t channel) const noexcept
    {
        return channel < channelCount ? channelPointers[channel] : nullptr;
    }

    /// The same channels, limited to the first numberOfFrames frames.
    AudioBuffer withFrames(std::uint32_t numberOfFrames) const noexcept
    {
        AudioBuffer copy = *this;
        copy.frameCount = numberOfFrames < frameCount ? numberOfFrames : frameCount;
        return copy;
    }

private:
    std::array<SampleType*, kMaxChannels> channelPointers{};
    std::uint32_t channelCount = 0;
    std::uint32_t frameCount = 0;
    double rate = 0.0;
};

/// Storage for planar audio, allocated once up front; view() hands out an
/// AudioBuffer over it.
template <typename SampleType>
class OwnedAudioBuffer {
public:
    OwnedAudioBuffer() = default;
    OwnedAudioBuffer(std::uint32_t numberOfChannels, std::uint32_t numberOfFrames, double sampleRate)
    {
        setSize(numberOfChannels, numberOfFrames, sampleRate);
    }

    /// Allocates; not for the audio thread.
    void setSize(std::uint32_t numberOfChannels, std::uint32_t numberOfFrames, double sampleRate)
    {
        if (numberOfChannels > AudioBuffer<SampleType>::kMaxChannels)
            numberOfChannels = AudioBuffer<SampleType>::kMaxChannels;
        channels.assign(numberOfChannels, std::vector<SampleType>(numberOfFrames, SampleType{}));
        frames = numberOfFrames;
        rate = sampleRate;
    }

    void setSampleRate(double sampleRate) noexcept { rate = sampleRate; }
    std::uint32_t getNumberOfChannels() const noexcept { return static_cast<std::uint32_t>(channels.size()); }
    std::uint32_t getNumberOfFrames() const noexcept { return frames; }
    SampleType* getWritePointer(std::uint32_t channel) noexcept { return channels[channel].data(); }

    AudioBuffer<SampleType> view() noexcept
    {
        std::array<SampleType*, AudioBuffer<SampleType>::kMaxChannels> pointers{};
        for (std::size_t c = 0; c < channels.size(); ++c)
            pointers[c] = channels[c].data();
        return AudioBuffer<SampleType>(pointers.data(), getNumberOfChannels(), frames, rate);
    }

private:
    std::vector<std::vector<SampleType>> channels;
    std::uint32_t frames = 0;
    double rate = 0.0;
};

} // namespace corvane
