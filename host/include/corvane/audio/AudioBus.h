#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>

#include <corvane/audio/AudioBuffer.h>
#include <corvane/core/CorvaneExport.h>

namespace corvane {

/// One connection point of a node. It carries a view of the current block's
/// audio; setting or reading the buffer never copies samples.
class AudioBus {
public:
    AudioBuffer<float>& getBuffer() noexcept { return buffer; }
    const AudioBuffer<float>& getBuffer() const noexcept { return buffer; }
    void setBuffer(const AudioBuffer<float>& newBuffer) noexcept { buffer = newBuffer; }

private:
    AudioBuffer<float> buffer;
};

/// The buses of one side of a node, by index.
class AudioBusList {
public:
    virtual ~AudioBusList() = default;
    virtual std::size_t getNumberOfBuses() const noexcept = 0;
    /// Throws std::out_of_range for an index past the end.
    virtual AudioBus& getBus(std::size_t index) = 0;
};

/// A fixed number of buses held in place, so building one on the audio thread
/// allocates nothing.
template <std::size_t N>
class AudioBusArray final : public AudioBusList {
public:
    std::size_t getNumberOfBuses() const noexcept override { return N; }

    AudioBus& getBus(std::size_t index) override
    {
        if (index >= N)
            throw std::out_of_range("AudioBusArray: no bus " + std::to_string(index));
        return buses[index];
    }

private:
    std::array<AudioBus, N> buses{};
};

} // namespace corvane
