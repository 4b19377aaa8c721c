#include "Endpointer.h"

#include <algorithm>
#include <cmath>

#include <corvane/audio/AudioBuffer.h>

namespace corvane::cli {

namespace {

constexpr std::uint32_t kFrameSamples = 160; // 10 ms at 16 kHz
/// Speech before this much quiet belongs to the utterance a new onset starts.
constexpr std::size_t kLongestLookBackFrames = 300;

std::uint64_t toSamples(double seconds)
{
    return static_cast<std::uint64_t>(std::llround(seconds * Endpointer::kSampleRate));
}

} // namespace

Endpointer::Endpointer(double maxWindowSeconds)
    : maxWindowSamples(toSamples(std::clamp(maxWindowSeconds, 1.0, kLongestWindowSeconds))),
      converter(kSampleRate, 512)
{
    converter.setNumberOfBuses(1, 0);
    converter.setProcessCallback([this](AudioBusList& input, AudioBusList&) {
        const AudioBuffer<float> converted = input.getBus(0).getBuffer();
        analyze({converted.getReadPointer(0), converted.getNumberOfFrames()});
        return true;
    });
}

void Endpointer::consume(AudioBusList& input) noexcept
{
    converter.process(input, noOutputs);
}

void Endpointer::analyze(std::span<const float> samples) noexcept
{
    for (const float sample : samples) {
        frameSumOfSquares += static_cast<double>(sample) * sample;
        ++position;
        if (++frameFill == kFrameSamples)
            endFrame();
    }
    samplesSeen.store(position, std::memory_order_release);
}

void Endpointer::finish(std::uint64_t endAtMost) noexcept
{
    if (frameFill > 0)
        endFrame();
    if (open) {
        const std::uint64_t end = std::min({lastSpeechEnd + kPauseSamples / 2, position, endAtMost});
        if (end > windowStart)
            close(end);
        open = false;
    }
    samplesSeen.store(position, std::memory_order_release);
}

std::optional<SpeechWindow> Endpointer::takeWindow() noexcept
{
    const std::size_t head = queueHead.load(std::memory_order_relaxed);
    if (head == queueTail.load(std::memory_order_acquire))
        return std::nullopt;
    const SpeechWindow window = queue[head % kQueueCapacity];
    queueHead.store(head + 1, std::memory_order_release);
    return window;
}

void Endpointer::endFrame() noexcept
{
    const double power = frameSumOfSquares / frameFill;
    const double thresholdBefore = detector.threshold();
    Frame& frame = frames[framesStored % kFrameHistory];
    frame = Frame{frameStart, position, static_cast<float>(power), detector.classify(power)};
    ++framesStored;
    frameStart = position;
    frameSumOfSquares = 0.0;
    frameFill = 0;

    if (frame.speech) {
        onSpeech(frame);
    } else {
        // Speech at the very start sets the floor itself and goes unheard
        // until the first quiet frame shows what the background is.
        if (!open && detector.threshold() < thresholdBefore)
            reopenUnheardSpeech();
        onQuiet(frame);
    }

    if (open && position - windowStart >= maxWindowSamples) {
        const std::uint64_t cut = quietestCutPoint();
        publish({windowStart, cut});
        sentUpTo = cut;
        windowStart = cut;
        speechFrames = 0;
        for (std::size_t back = 0; back < std::min(framesStored, kFrameHistory) && frameBack(back).start >= cut; ++back)
            speechFrames += frameBack(back).speech ? 1 : 0;
        open = lastSpeechEnd > cut;
    }
}

void Endpointer::onSpeech(const Frame& frame) noexcept
{
    if (!open) {
        open = true;
        const std::uint64_t onset = onsetBefore(frame);
        windowStart = startBefore(onset);
        speechFrames = 0;
    }
    lastSpeechEnd = frame.end;
    ++speechFrames;
}

void Endpointer::onQuiet(const Frame& frame) noexcept
{
    if (open && frame.end - lastSpeechEnd >= kPauseSamples)
        close(lastSpeechEnd + kPauseSamples / 2);
}

void Endpointer::reopenUnheardSpeech() noexcept
{
    const std::size_t available = std::min({framesStored, kFrameHistory, kLongestLookBackFrames});
    for (std::size_t back = 1; back < available; ++back) {
        const Frame& earlier = frameBack(back);
        if (earlier.end <= sentUpTo)
            return;
        if (detector.isSpeech(earlier.power)) {
            open = true;
            const std::uint64_t onset = onsetBefore(earlier);
            windowStart = startBefore(onset);
            lastSpeechEnd = earlier.end;
            speechFrames = 0;
            for (std::size_t heard = back; heard < available && frameBack(heard).start >= onset; ++heard)
                speechFrames += detector.isSpeech(frameBack(heard).power) ? 1 : 0;
            return;
        }
    }
}

std::uint64_t Endpointer::onsetBefore(const Frame& frame) const noexcept
{
    std::uint64_t onset = frame.start;
    std::uint64_t quiet = 0;
    const std::size_t available = std::min({framesStored, kFrameHistory, kLongestLookBackFrames});
    for (std::size_t back = 1; back < available; ++back) {
        const Frame& earlier = frameBack(back);
        if (earlier.start >= frame.start)
            continue;
        if (earlier.end <= sentUpTo)
            break;
        if (detector.isSpeech(earlier.power)) {
            onset = earlier.start;
            quiet = 0;
        } else if ((quiet += earlier.end - earlier.start) >= kPauseSamples) {
            break;
        }
    }
    return std::max(onset, sentUpTo);
}

std::uint64_t Endpointer::startBefore(std::uint64_t onset) const noexcept
{
    return std::max(sentUpTo, onset > kLeadInSamples ? onset - kLeadInSamples : 0);
}

std::uint64_t Endpointer::quietestCutPoint() const noexcept
{
    // A short maximum searches its later half only, so the cut never leaves a
    // sliver of a window behind.
    const std::uint64_t searchLength = std::min(kCutSearchSamples, maxWindowSamples / 2);
    const std::uint64_t searchFrom = std::max(windowStart, position > searchLength ? position - searchLength : 0);
    std::uint64_t cut = position;
    double quietest = HUGE_VAL;
    const std::size_t available = std::min(framesStored, kFrameHistory);
    for (std::size_t back = 0; back + 1 < available; ++back) {
        const Frame& later = frameBack(back);
        const Frame& earlier = frameBack(back + 1);
        if (earlier.start < searchFrom || earlier.start <= windowStart)
            break;
        const double power = static_cast<double>(earlier.power) + later.power;
        if (power < quietest) {
            quietest = power;
            cut = later.start;
        }
    }
    return cut;
}

void Endpointer::close(std::uint64_t end) noexcept
{
    open = false;
    if (speechFrames < kShortestSpeechFrames)
        return;
    publish({windowStart, end});
    sentUpTo = end;
}

void Endpointer::publish(const SpeechWindow& window) noexcept
{
    const std::size_t tail = queueTail.load(std::memory_order_relaxed);
    if (tail - queueHead.load(std::memory_order_acquire) >= kQueueCapacity) {
        droppedWindows.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    queue[tail % kQueueCapacity] = window;
    queueTail.store(tail + 1, std::memory_order_release);
}

const Endpointer::Frame& Endpointer::frameBack(std::size_t back) const noexcept
{
    return frames[(framesStored - 1 - back) % kFrameHistory];
}

} // namespace corvane::cli
