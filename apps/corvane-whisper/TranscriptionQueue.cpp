#include "TranscriptionQueue.h"

namespace corvane::cli {

void TranscriptionQueue::push(const CVAny& eventData, bool final)
{
    const CVAnyMap& data = eventData.asMap();
    auto index = [&data](const char* key) {
        return data.hasKey(key) ? static_cast<std::uint64_t>(data.at(key).asInteger()) : std::uint64_t{0};
    };
    Transcription transcription{data.at("text").asString(), data.at("processingTime").asInteger(), index("start"),
                                index("end"), final,
                                data.hasKey("stableText") ? data.at("stableText").asString() : std::string(),
                                data.hasKey("language") ? data.at("language").asString() : std::string(),
                                data.hasKey("languageProbability") ? data.at("languageProbability").asFloat() : 0.0};
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::move(transcription));
    }
    arrived.notify_all();
}

std::optional<Transcription> TranscriptionQueue::pop(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!arrived.wait_for(lock, timeout, [this] { return !events.empty(); }))
        return std::nullopt;
    Transcription next = std::move(events.front());
    events.pop_front();
    return next;
}

} // namespace corvane::cli
