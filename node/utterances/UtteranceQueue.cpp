#include "UtteranceQueue.h"

namespace corvane::extensions::whisper {

UtteranceQueue::UtteranceQueue(uint64_t maxWindowSamples, bool joinWaiting)
    : maxWindowSamples(maxWindowSamples)
    , joinWaiting(joinWaiting)
{
}

void UtteranceQueue::push(const SpeechWindow& window)
{
    if (!windows.empty() && window.length() < kShortTailSamples && window.end - windows.back().start <= maxWindowSamples)
        windows.back().end = window.end;
    else
        windows.push_back(window);
}

std::optional<SpeechWindow> UtteranceQueue::take()
{
    if (windows.empty())
        return std::nullopt;
    SpeechWindow next = windows.front();
    windows.pop_front();
    while (joinWaiting && !windows.empty() && windows.front().end - next.start <= maxWindowSamples) {
        next.end = windows.front().end;
        windows.pop_front();
    }
    return next;
}

std::optional<uint64_t> UtteranceQueue::oldestStart() const noexcept
{
    if (windows.empty())
        return std::nullopt;
    return windows.front().start;
}

} // namespace corvane::extensions::whisper
