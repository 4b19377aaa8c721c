#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <corvane/audio/AudioBus.h>
#include <corvane/core/CorvaneExport.h>

namespace corvane {

/// Converts the audio of its input buses to one fixed output rate and hands the
/// converted audio to a process callback, in deliveries of at most
/// maxFramesPerDelivery frames.
///
/// The input rate is learnt from the buffers themselves (AudioBuffer's sample
/// rate): the first block, and any block whose rate or channel count differs
/// from the previous one, sets the converter up again (this allocates).
/// Between such changes process() allocates nothing, takes no lock and never
/// throws, so it is safe on the audio thread. Everything converted from one
/// process() call is delivered before it returns; only the converter's filter
/// delay (getLatencyFrames()) stays inside.
///
/// Threading: set-up calls (constructor, setNumberOfBuses, setProcessCallback)
/// happen before audio flows; process() runs on the audio thread only.
class CORVANE_API AudioGraphResampler {
public:
    using ProcessCallback = std::function<bool(AudioBusList& input, AudioBusList& output)>;

    /// outputSampleRate: the rate the callback receives. maxFramesPerDelivery:
    /// the largest block handed to the callback (the output buffers are
    /// allocated for this many frames per channel).
    AudioGraphResampler(double outputSampleRate, std::uint32_t maxFramesPerDelivery);
    ~AudioGraphResampler();

    AudioGraphResampler(const AudioGraphResampler&) = delete;
    AudioGraphResampler& operator=(const AudioGraphResampler&) = delete;

    /// Only one input bus is supported; outputs are passed through untouched.
    void setNumberOfBuses(std::uint32_t numberOfInputs, std::uint32_t numberOfOutputs);
    void setProcessCallback(ProcessCallback callback);

    /// Audio thread. Converts bus 0 of input and calls the callback with the
    /// converted audio as bus 0 of its input list and `output` as its output
    /// list, once per delivery. Returns false when the input cannot be
    /// converted (no sample rate, no channels) or when a callback returned
    /// false; true otherwise (also when nothing was delivered yet).
    bool process(AudioBusList& input, AudioBusList& output);

    double getOutputSampleRate() const noexcept;
    /// The input rate learnt from the last block, 0 before any block.
    double getInputSampleRate() const noexcept;
    /// Output frames the converter holds back (its filter delay).
    std::uint32_t getLatencyFrames() const noexcept;
    /// Output frames delivered to the callback since construction.
    std::uint64_t getTotalFramesDelivered() const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace corvane
