#include "AudioFeeder.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <corvane/audio/AudioBuffer.h>
#include <corvane/audio/AudioBus.h>

namespace corvane::cli {

namespace {

using Clock = std::chrono::steady_clock;

/// How long the feeding thread naps while it has caught up with its target.
constexpr auto kIdleWait = std::chrono::milliseconds(1);

std::uint32_t framesPerBlock(double sampleRate)
{
    return static_cast<std::uint32_t>(std::max(1L, std::lround(sampleRate / 100.0)));
}

} // namespace

AudioFeeder::AudioFeeder(AudioSinkNode& sink, std::span<float> audio, double rate, bool paced)
    : node(sink),
      samples(audio),
      sampleRate(rate),
      realtime(paced),
      blockFrames(framesPerBlock(rate)),
      flushFrames(static_cast<std::uint64_t>(std::llround(kFlushSeconds * rate))),
      silence(blockFrames, 0.0f)
{
}

AudioFeeder::~AudioFeeder()
{
    stopRequested.store(true, std::memory_order_release);
    if (thread.joinable())
        thread.join();
}

void AudioFeeder::start()
{
    thread = std::thread([this] { run(); });
}

void AudioFeeder::feedUntil(std::uint64_t frame) noexcept
{
    targetFrame.store(std::min(frame, getTotalFrames()), std::memory_order_release);
}

void AudioFeeder::run() noexcept
{
    AudioBusArray<1> buses;
    AudioBus& bus = buses.getBus(0);
    const std::uint64_t fileFrames = samples.size();
    std::uint64_t fed = 0;
    Clock::time_point started{};

    while (!stopRequested.load(std::memory_order_acquire)) {
        const std::uint64_t target = targetFrame.load(std::memory_order_acquire);
        if (fed >= target) {
            std::this_thread::sleep_for(kIdleWait);
            continue;
        }
        if (fed == 0)
            started = Clock::now();

        // A block never straddles the end of the file, so the silence after
        // it always starts on a block of its own.
        std::uint64_t frames = std::min<std::uint64_t>(blockFrames, target - fed);
        float* block = silence.data();
        if (fed < fileFrames) {
            frames = std::min(frames, fileFrames - fed);
            block = samples.data() + fed;
        }

        bus.setBuffer(AudioBuffer<float>(block, static_cast<std::uint32_t>(frames), sampleRate));
        if (!node.consume(buses))
            refusedBlocks.fetch_add(1, std::memory_order_relaxed);
        fed += frames;
        framesFed.store(fed, std::memory_order_release);

        if (realtime) {
            const auto due = std::chrono::duration<double>(static_cast<double>(fed) / sampleRate);
            std::this_thread::sleep_until(started + std::chrono::duration_cast<Clock::duration>(due));
        }
    }
}

} // namespace corvane::cli
