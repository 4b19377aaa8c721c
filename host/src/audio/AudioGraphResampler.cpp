// Threads: the constructor and set-up calls run before audio flows; process()
// runs on the audio thread; the getters may be read from any thread.
#include <corvane/audio/AudioGraphResampler.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <utility>

#include <speex/speex_resampler.h>

namespace corvane {

namespace {

// Speex's "desktop" setting: aliasing stays far below a microphone's noise
// floor, and bench/ResamplerBench.cpp shows it costs tens of microseconds per
// 10 ms block at most. Higher settings buy nothing audible for speech.
constexpr int kSpeexQuality = SPEEX_RESAMPLER_QUALITY_DESKTOP;

// Rates are handed to speex in whole hertz. Zero means "not a usable rate".
std::uint32_t toWholeHertz(double rate) noexcept
{
    if (!(rate > 0.0) || !std::isfinite(rate))
        return 0;
    const double rounded = std::round(rate);
    if (rounded < 1.0 || rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return 0;
    return static_cast<std::uint32_t>(rounded);
}

struct SpeexStateDeleter {
    void operator()(SpeexResamplerState* state) const noexcept { speex_resampler_destroy(state); }
};

} // namespace

struct AudioGraphResampler::Impl {
    Impl(double outRate, std::uint32_t maxFrames)
        : outputRate(outRate),
          outputHertz(toWholeHertz(outRate)),
          maxFramesPerDelivery(std::max<std::uint32_t>(maxFrames, 1))
    {
    }

    // Once audio flows, everything here is process()'s alone, apart from the
    // atomics the getters read.
    const double outputRate;
    const std::uint32_t outputHertz;
    const std::uint32_t maxFramesPerDelivery;

    std::uint32_t numberOfInputs = 1;
    ProcessCallback callback;

    std::unique_ptr<SpeexResamplerState, SpeexStateDeleter> speex;
    bool passThrough = false;
    bool configured = false;
    std::uint32_t inputHertz = 0;
    std::uint32_t channels = 0;

    OwnedAudioBuffer<float> block;
    std::uint32_t framesInBlock = 0;
    AudioBusArray<1> deliveryInput;

    std::atomic<double> learntInputRate{0.0};
    std::atomic<std::uint32_t> latencyFrames{0};
    std::atomic<std::uint64_t> framesDelivered{0};

    bool configure(double rate, std::uint32_t hertz, std::uint32_t numberOfChannels);
    bool convert(const AudioBuffer<float>& input, AudioBusList& output);
    bool copyThrough(const AudioBuffer<float>& input, AudioBusList& output);
    bool deliver(AudioBusList& output);
};

// The only place that allocates: runs on the first block and whenever the
// host changes rate or channel count.
bool AudioGraphResampler::Impl::configure(double rate, std::uint32_t hertz, std::uint32_t numberOfChannels)
{
    configured = false;
    speex.reset();
    latencyFrames.store(0, std::memory_order_relaxed);

    if (block.getNumberOfChannels() != numberOfChannels || block.getNumberOfFrames() != maxFramesPerDelivery)
        block.setSize(numberOfChannels, maxFramesPerDelivery, outputRate);
    framesInBlock = 0;
    inputHertz = hertz;
    channels = numberOfChannels;
    learntInputRate.store(rate, std::memory_order_relaxed);

    passThrough = hertz == outputHertz;
    if (!passThrough) {
        int error = RESAMPLER_ERR_SUCCESS;
        speex.reset(speex_resampler_init(numberOfChannels, hertz, outputHertz, kSpeexQuality, &error));
        if (!speex || error != RESAMPLER_ERR_SUCCESS) {
            speex.reset();
            return false;
        }
        // Without this the first output frames are the filter's run-in
        // silence; skipping it keeps output frame n at input time n / rate.
        if (speex_resampler_skip_zeros(speex.get()) != RESAMPLER_ERR_SUCCESS) {
            speex.reset();
            return false;
        }
        const int latency = speex_resampler_get_output_latency(speex.get());
        latencyFrames.store(latency > 0 ? static_cast<std::uint32_t>(latency) : 0, std::memory_order_relaxed);
    }
    configured = true;
    return true;
}

bool AudioGraphResampler::Impl::deliver(AudioBusList& output)
{
    if (framesInBlock == 0)
        return true;
    const std::uint32_t frames = framesInBlock;
    framesInBlock = 0;
    if (!callback)
        return true;
    // deliveryInput is an AudioBusArray<1>, so bus 0 always exists.
    deliveryInput.getBus(0).setBuffer(block.view().withFrames(frames));
    // The callback is the node's own audio-thread code and must not throw.
    const bool accepted = callback(deliveryInput, output);
    framesDelivered.fetch_add(frames, std::memory_order_relaxed);
    return accepted;
}

bool AudioGraphResampler::Impl::copyThrough(const AudioBuffer<float>& input, AudioBusList& output)
{
    bool ok = true;
    const std::uint32_t total = input.getNumberOfFrames();
    std::uint32_t done = 0;
    while (done < total) {
        const std::uint32_t frames = std::min(total - done, maxFramesPerDelivery - framesInBlock);
        for (std::uint32_t c = 0; c < channels; ++c)
            std::copy_n(input.getReadPointer(c) + done, frames, block.getWritePointer(c) + framesInBlock);
        framesInBlock += frames;
        done += frames;
        if (framesInBlock == maxFramesPerDelivery)
            ok = deliver(output) && ok;
    }
    return deliver(output) && ok;
}

bool AudioGraphResampler::Impl::convert(const AudioBuffer<float>& input, AudioBusList& output)
{
    bool ok = true;
    const std::uint32_t total = input.getNumberOfFrames();
    std::uint32_t consumed = 0;
    while (consumed < total) {
        const spx_uint32_t inputOffered = total - consumed;
        const spx_uint32_t spaceOffered = maxFramesPerDelivery - framesInBlock;
        spx_uint32_t inputUsed = 0;
        spx_uint32_t written = 0;
        for (std::uint32_t c = 0; c < channels; ++c) {
            spx_uint32_t inLength = inputOffered;
            spx_uint32_t outLength = spaceOffered;
            const int error = speex_resampler_process_float(speex.get(), c, input.getReadPointer(c) + consumed,
                                                            &inLength, block.getWritePointer(c) + framesInBlock,
                                                            &outLength);
            if (error != RESAMPLER_ERR_SUCCESS)
                return false;
            // Every channel runs the same filter over the same lengths, so
            // they move in step; anything else means the state is corrupt.
            if (c == 0) {
                inputUsed = inLength;
                written = outLength;
            } else if (inLength != inputUsed || outLength != written) {
                return false;
            }
        }
        if (inputUsed == 0 && written == 0)
            return false; // would spin forever; speex always makes progress when given room
        consumed += inputUsed;
        framesInBlock += written;
        if (framesInBlock == maxFramesPerDelivery)
            ok = deliver(output) && ok;
    }
    return deliver(output) && ok;
}

AudioGraphResampler::AudioGraphResampler(double outputSampleRate, std::uint32_t maxFramesPerDelivery)
    : impl(std::make_unique<Impl>(outputSampleRate, maxFramesPerDelivery))
{
}

AudioGraphResampler::~AudioGraphResampler() = default;

void AudioGraphResampler::setNumberOfBuses(std::uint32_t numberOfInputs, std::uint32_t /*numberOfOutputs*/)
{
    // Outputs are the caller's list, handed to the callback untouched, so
    // their count needs no storage here.
    impl->numberOfInputs = std::min<std::uint32_t>(numberOfInputs, 1);
}

void AudioGraphResampler::setProcessCallback(ProcessCallback callback)
{
    impl->callback = std::move(callback);
}

bool AudioGraphResampler::process(AudioBusList& input, AudioBusList& output)
{
    Impl& d = *impl;
    if (d.numberOfInputs == 0)
        return true;
    if (d.outputHertz == 0 || input.getNumberOfBuses() == 0)
        return false;

    // getBus() can only throw for an index past the end, ruled out above.
    const AudioBuffer<float> buffer = input.getBus(0).getBuffer();
    const std::uint32_t numberOfChannels = buffer.getNumberOfChannels();
    const std::uint32_t hertz = toWholeHertz(buffer.getSampleRate());
    if (hertz == 0 || numberOfChannels == 0)
        return false;
    if (buffer.getNumberOfFrames() == 0)
        return true;
    for (std::uint32_t c = 0; c < numberOfChannels; ++c)
        if (buffer.getReadPointer(c) == nullptr)
            return false;

    if (!d.configured || hertz != d.inputHertz || numberOfChannels != d.channels) {
        // The only allocation on this path; a failed allocation here must not
        // escape into the host either.
        try {
            if (!d.configure(buffer.getSampleRate(), hertz, numberOfChannels))
                return false;
        } catch (...) {
            d.configured = false;
            return false;
        }
    }

    return d.passThrough ? d.copyThrough(buffer, output) : d.convert(buffer, output);
}

double AudioGraphResampler::getOutputSampleRate() const noexcept
{
    return impl->outputRate;
}

double AudioGraphResampler::getInputSampleRate() const noexcept
{
    return impl->learntInputRate.load(std::memory_order_relaxed);
}

std::uint32_t AudioGraphResampler::getLatencyFrames() const noexcept
{
    return impl->latencyFrames.load(std::memory_order_relaxed);
}

std::uint64_t AudioGraphResampler::getTotalFramesDelivered() const noexcept
{
    return impl->framesDelivered.load(std::memory_order_relaxed);
}

} // namespace corvane
