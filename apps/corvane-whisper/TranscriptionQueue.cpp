#include "TranscriptionQueue.h"

namespace corvane::cli {

namespace {

std::uint64_t indexAt(const CVAnyMap& data, const char* key)
{
    return data.hasKey(key) ? static_cast<std::uint64_t>(data.at(key).asInteger()) : std::uint64_t{0};
}

/// The entries of a map the node keys by position, in order.
template <typename Entry, typename Read>
std::vector<Entry> listOf(const CVAnyMap& data, const char* key, Read read)
{
    std::vector<Entry> entries;
    if (data.hasKey(key))
        for (const auto& [position, value] : data.at(key).asMap())
            entries.push_back(read(value.asMap()));
    return entries;
}

TranscribedWord readWord(const CVAnyMap& word)
{
    return {word.at("text").asString(), indexAt(word, "start"), indexAt(word, "end"), word.at("probability").asFloat()};
}

TranscribedSegment readSegment(const CVAnyMap& segment)
{
    return {segment.at("text").asString(), indexAt(segment, "start"), indexAt(segment, "end"),
            segment.at("probability").asFloat(), segment.at("noSpeechProbability").asFloat(),
            listOf<TranscribedWord>(segment, "words", readWord)};
}

} // namespace

void TranscriptionQueue::push(const CVAny& eventData, bool final)
{
    const CVAnyMap& data = eventData.asMap();
    bool withWords = false;
    Transcription transcription{data.hasKey("text") ? data.at("text").asString() : std::string(),
                                data.at("processingTime").asInteger(),
                                indexAt(data, "start"),
                                indexAt(data, "end"),
                                listOf<TranscribedSegment>(data, "segments",
                                                           [&withWords](const CVAnyMap& segment) {
                                                               withWords = withWords || segment.hasKey("words");
                                                               return readSegment(segment);
                                                           }),
                                false};
    transcription.withWords = withWords;
    auto text = [&data](const char* key) { return data.hasKey(key) ? data.at(key).asString() : std::string(); };
    transcription.final = final;
    transcription.stableText = text("stableText");
    transcription.language = text("language");
    transcription.languageProbability =
        data.hasKey("languageProbability") ? data.at("languageProbability").asFloat() : 0.0;
    transcription.error = text("error");
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
