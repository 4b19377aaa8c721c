#include "WindowSchedule.h"

#include <algorithm>
#include <cmath>

namespace corvane::cli {

WindowSchedule::WindowSchedule(double rate, std::uint64_t frames, double stepSeconds)
    : sampleRate(rate),
      fileFrames(frames),
      stepFrames(std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(stepSeconds * rate))))
{
    stepEnd = std::min(stepFrames, fileFrames);
}

void WindowSchedule::skipStep() noexcept
{
    if (isFinalStep()) {
        finished = true;
        return;
    }
    stepEnd = std::min(stepEnd + stepFrames, fileFrames);
}

std::optional<WindowSchedule::Window> WindowSchedule::endWindow() noexcept
{
    if (finished)
        return std::nullopt;

    const bool finalStep = isFinalStep();
    const std::uint64_t end = toNodeSamples(stepEnd);
    skipStep();

    const std::uint64_t length = end > windowStart ? end - windowStart : 0;
    if (length == 0 || (!finalStep && length < kShortestWindowSamples))
        return std::nullopt;

    Window window{std::max(windowStart, end > kNodeHistorySamples ? end - kNodeHistorySamples : 0), end};
    windowStart = end;
    return window;
}

std::uint64_t WindowSchedule::toNodeSamples(std::uint64_t frames) const noexcept
{
    return static_cast<std::uint64_t>(std::llround(static_cast<double>(frames) * kNodeSampleRate / sampleRate));
}

} // namespace corvane::cli
