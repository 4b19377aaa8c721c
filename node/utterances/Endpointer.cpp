#include "Endpointer.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace corvane::extensions::whisper {

namespace {

constexpr uint32_t kFrameSamples = 160; // 10 ms at 16 kHz
/// Speech before this much quiet belongs to the utterance a new onset starts.
constexpr std::size_t kLongestLookBackFrames = 300;

} // namespace

Endpointer::Endpointer(uint64_t maxWindowSamples, uint64_t pauseSamples, uint64_t firstIndex)
    : maxWindowSamples(maxWindowSamples)
    , pauseSamples(pauseSamples)
    , frameStart(firstIndex)
    , position(firstIndex)
    , sentUpTo(firstIndex)
{
}

void Endpointer::analyze(std::span<const float> samples) noexcept
{
    for (const float sample : samples) {
        frameSumOfSquares += static_cast<double>(sample) * sample;
        ++position;
        if (++frameFill == kFrameSamples)
            endFrame();
    }
}

void Endpointer::finish(uint64_t endAtMost) noexcept
{
    if (frameFill > 0)
        endFrame();
    if (open) {
        const uint64_t end = std::min({lastSpeechEnd + pauseSamples / 2, position, endAtMost});
        if (end > windowStart)
            close(end);
        open = false;
    }
}

void Endpointer::restartAt(uint64_t index) noexcept
{
    position = std::max(position, index);
    frameStart = position;
    frameSumOfSquares = 0.0;
    frameFill = 0;
    framesStored = 0;
    open = false;
    speechFrames = 0;
    sentUpTo = position;
    finished.clear();
}

std::optional<SpeechWindow> Endpointer::openUtterance() const noexcept
{
    if (!open || speechFrames < kShortestSpeechFrames)
        return std::nullopt;
    return SpeechWindow{windowStart, position};
}

std::optional<uint64_t> Endpointer::openWindowStart() const noexcept
{
    if (!open)
        return std::nullopt;
    return windowStart;
}

std::optional<SpeechWindow> Endpointer::takeWindow()
{
    if (finished.empty())
        return std::nullopt;
    const SpeechWindow window = finished.front();
    finished.pop_front();
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
        const uint64_t cut = quietestCutPoint();
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
        const uint64_t onset = onsetBefore(frame);
        windowStart = startBefore(onset);
        speechFrames = 0;
    }
    lastSpeechEnd = frame.end;
    ++speechFrames;
}

void Endpointer::onQuiet(const Frame& frame) noexcept
{
    if (open && frame.end - lastSpeechEnd >= pauseSamples)
        close(lastSpeechEnd + pauseSamples / 2);
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
            const uint64_t onset = onsetBefore(earlier);
            windowStart = startBefore(onset);
            lastSpeechEnd = earlier.end;
            speechFrames = 0;
            for (std::size_t heard = back; heard < available && frameBack(heard).start >= onset; ++heard)
                speechFrames += detector.isSpeech(frameBack(heard).power) ? 1 : 0;
            return;
        }
    }
}

uint64_t Endpointer::onsetBefore(const Frame& frame) const noexcept
{
    uint64_t onset = frame.start;
    uint64_t quiet = 0;
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
        } else if ((quiet += earlier.end - earlier.start) >= pauseSamples) {
            break;
        }
    }
    return std::max(onset, sentUpTo);
}

uint64_t Endpointer::startBefore(uint64_t onset) const noexcept
{
    return std::max(sentUpTo, onset > kLeadInSamples ? onset - kLeadInSamples : 0);
}

uint64_t Endpointer::quietestCutPoint() const noexcept
{
    // A short maximum searches its later half only, so the cut never leaves a
    // sliver of a window behind.
    const uint64_t searchLength = std::min(kCutSearchSamples, maxWindowSamples / 2);
    const uint64_t searchFrom = std::max(windowStart, position > searchLength ? position - searchLength : 0);
    uint64_t cut = position;
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

void Endpointer::close(uint64_t end) noexcept
{
    open = false;
    if (speechFrames < kShortestSpeechFrames)
        return;
    publish({windowStart, end});
    sentUpTo = end;
}

void Endpointer::publish(const SpeechWindow& window) noexcept
{
    // A failed allocation loses one window rather than ending the worker.
    try {
        finished.push_back(window);
    } catch (const std::bad_alloc&) {
    }
}

const Endpointer::Frame& Endpointer::frameBack(std::size_t back) const noexcept
{
    return frames[(framesStored - 1 - back) % kFrameHistory];
}

} // namespace corvane::extensions::whisper
