#include "UtteranceQueue.h"
#include "WhisperNodeFacts.h"

#include <algorithm>

namespace corvane::cli {

UtteranceQueue::UtteranceQueue(std::uint64_t maxWindow, bool holdNewest)
    : maxWindowSamples(maxWindow), holdLast(holdNewest)
{
}

void UtteranceQueue::push(const SpeechWindow& window)
{
    if (ended) {
        ended = false;
        windows.push_back(window);
        return;
    }
    if (!windows.empty() && window.length() < kShortTailSamples && window.end - windows.back().start <= maxWindowSamples)
        windows.back().end = window.end;
    else
        windows.push_back(window);
}

std::optional<SpeechWindow> UtteranceQueue::takeReady(std::uint64_t now)
{
    if (windows.empty())
        return std::nullopt;
    const SpeechWindow& oldest = windows.front();
    const bool couldStillGrow = holdLast && !ended && windows.size() == 1 &&
                                now - oldest.start < std::min(maxWindowSamples, kLongestHoldSamples);
    if (couldStillGrow)
        return std::nullopt;
    const SpeechWindow ready = oldest;
    windows.pop_front();
    return ready;
}

std::optional<std::uint64_t> UtteranceQueue::oldestStart() const
{
    if (windows.empty())
        return std::nullopt;
    return windows.front().start;
}

} // namespace corvane::cli
