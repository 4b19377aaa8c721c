#include "SoakAudioThread.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include <corvane/audio/AudioBus.h>

#include "AllocationCounter.h"
#include "WhisperSTTNodeImpl.h"

namespace corvane::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<double, 6> kRates{8000.0, 16000.0, 22050.0, 44100.0, 48000.0, 96000.0};
constexpr uint32_t kLargestBlock = 8192;

/// Block sizes spread evenly over their logarithm, so single frames and
/// 8192-frame blocks both come up often.
uint32_t randomBlockSize(std::mt19937& random)
{
    std::uniform_real_distribution<double> exponent(0.0, std::log(static_cast<double>(kLargestBlock) + 1.0));
    return std::clamp<uint32_t>(static_cast<uint32_t>(std::exp(exponent(random))), 1, kLargestBlock);
}

} // namespace

void SoakAudioThread::start(double preRollSeconds)
{
    stopRequested = false;
    ready = false;
    report = {};
    thread = std::thread([this, preRollSeconds] { run(preRollSeconds); });
    std::unique_lock<std::mutex> lock(readyMutex);
    readyChanged.wait(lock, [this] { return ready; });
}

SoakAudioThread::Report SoakAudioThread::stop()
{
    stopRequested = true;
    if (thread.joinable())
        thread.join();
    return report;
}

void SoakAudioThread::run(double preRollSeconds)
{
    std::mt19937 random(seed);
    std::vector<float> source(kLargestBlock);
    std::uniform_real_distribution<float> noise(-0.2f, 0.2f);
    for (float& sample : source)
        sample = noise(random);

    WhisperSTTNode::Impl& state = node.getImpl();
    AllocationCounter counter;
    std::uniform_int_distribution<std::size_t> pickRate(0, kRates.size() - 1);
    std::uniform_real_distribution<double> secondsAtOneRate(0.2, 2.0);

    double rate = 0.0;
    double previousRate = 0.0;
    double secondsLeftAtRate = 0.0;
    double preRollLeft = preRollSeconds;
    Clock::time_point clockStart;
    double secondsFed = 0.0;

    auto signalReady = [this] {
        {
            std::lock_guard<std::mutex> lock(readyMutex);
            ready = true;
        }
        readyChanged.notify_all();
    };
    if (preRollLeft <= 0.0) {
        signalReady();
        clockStart = Clock::now();
    }

    while (!stopRequested.load()) {
        if (secondsLeftAtRate <= 0.0) {
            rate = kRates[pickRate(random)];
            secondsLeftAtRate = secondsAtOneRate(random);
        }
        const uint32_t frames = randomBlockSize(random);
        const double seconds = frames / rate;

        AudioBus bus;
        bus.setBuffer(AudioBuffer<float>(source.data(), frames, rate));

        // The block that changes the rate sets the resampler up again, and
        // the first delivery starts the worker; both allocate by design.
        const bool steady = rate == previousRate && state.workerStarted;
        if (steady)
            counter.start();
        node.consume(bus);
        if (steady) {
            counter.stop();
            ++report.steadyBlocks;
            report.allocations += counter.count();
            report.locks += counter.lockCount();
        }
        if (rate != previousRate && previousRate != 0.0)
            ++report.rateChanges;
        previousRate = rate;
        ++report.blocks;
        secondsLeftAtRate -= seconds;

        if (state.totalSamples() != state.resampler->getTotalFramesDelivered())
            ++report.counterMismatches;

        if (preRollLeft > 0.0) {
            preRollLeft -= seconds;
            if (preRollLeft <= 0.0) {
                signalReady();
                clockStart = Clock::now();
            }
            continue;
        }

        // Real time, as a sound card delivers it. A feeder that fell behind
        // (a slow sanitizer build) picks up from now instead of catching up
        // in a burst, which no sound card does either.
        secondsFed += seconds;
        const Clock::time_point due =
            clockStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(secondsFed));
        const Clock::time_point now = Clock::now();
        if (due > now) {
            std::this_thread::sleep_until(due);
        } else if (now - due > std::chrono::milliseconds(100)) {
            clockStart = now;
            secondsFed = 0.0;
        }
    }
    if (!ready)
        signalReady();
}

} // namespace corvane::test
