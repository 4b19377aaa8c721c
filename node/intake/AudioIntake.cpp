#include "AudioIntake.h"

#include <algorithm>

namespace corvane::extensions::whisper {

AudioIntake::AudioIntake()
    : history(std::make_unique<SampleRingBuffer>(kHistoryCapacity + kRingMargin))
    // 512: the largest block the resampler hands over at a time.
    , resampler(std::make_unique<AudioGraphResampler>(kSampleRate, 512))
{
    resampler->setNumberOfBuses(1, 0);
    resampler->setProcessCallback(
        [this](AudioBusList& input, AudioBusList&) { return onResampledAudio(input.getBus(0)); });
}

AudioIntake::~AudioIntake() = default;

bool AudioIntake::consume(AudioBus& bus)
{
    AudioBusArray<1> input;
    AudioBusArray<0> output;
    input.getBus(0).setBuffer(bus.getBuffer());
    return resampler->process(input, output);
}

bool AudioIntake::onResampledAudio(AudioBus& bus) noexcept
{
    const AudioBuffer<float>& buffer = bus.getBuffer();
    const float* samples = buffer.getReadPointer(0);
    const uint32_t frames = buffer.getNumberOfFrames();
    if (samples != nullptr && frames > 0)
        history->write(samples, frames);
    audioReceived = true;
    return true;
}

WindowPlacement AudioIntake::readWindow(uint32_t start, uint32_t end, float* into) const noexcept
{
    const uint64_t total = history->totalSamples();
    // Placed against the retained 30 s, not the ring's margin.
    const WindowPlacement window = placeWindow(start, end, historyAt(total, kHistoryCapacity));
    if (!window.valid)
        return window;
    // The window's first sample lies this far back from the newest one; the
    // mirrored ring makes the whole window one contiguous block from there.
    const uint32_t distance = static_cast<uint32_t>(total) - window.firstIndex;
    std::copy_n(history->window(history->ringPositionOf(total - distance)), window.sampleCount, into);
    history->endRead();
    return window;
}

void AudioIntake::startCountingAt(uint64_t firstIndex)
{
    history = std::make_unique<SampleRingBuffer>(history->capacity(), firstIndex);
    this->firstIndex = firstIndex;
}

} // namespace corvane::extensions::whisper
