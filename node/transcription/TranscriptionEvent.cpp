#include "TranscriptionEvent.h"

#include <string>

namespace corvane::extensions::whisper {

namespace {

/// Keys for `count` entries: the position zero-padded to a common width of
/// at least three digits, so that a map's ascending keys are the list order.
class PositionKeys {
public:
    explicit PositionKeys(std::size_t count)
    {
        for (std::size_t last = count > 0 ? count - 1 : 0; last >= 1000; last /= 10)
            ++width;
    }
    std::string operator()(std::size_t position) const
    {
        std::string key = std::to_string(position);
        return std::string(width > key.size() ? width - key.size() : 0, '0') + key;
    }

private:
    std::size_t width = 3;
};

long long index(uint64_t sample)
{
    return static_cast<long long>(sample);
}

CVAnyMap describeWords(const std::vector<TranscribedWord>& words)
{
    const PositionKeys key(words.size());
    CVAnyMap map;
    for (std::size_t i = 0; i < words.size(); ++i)
        map.set(key(i), CVAnyMap{{"text", words[i].text},
                                 {"start", index(words[i].start)},
                                 {"end", index(words[i].end)},
                                 {"probability", words[i].probability}});
    return map;
}

CVAnyMap describeSegments(const std::vector<TranscribedSegment>& segments, bool withWords)
{
    const PositionKeys key(segments.size());
    CVAnyMap map;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const TranscribedSegment& segment = segments[i];
        CVAnyMap entry{{"text", segment.text},
                       {"start", index(segment.start)},
                       {"end", index(segment.end)},
                       {"probability", segment.probability},
                       {"noSpeechProbability", segment.noSpeechProbability}};
        if (withWords)
            entry.set("words", describeWords(segment.words));
        map.set(key(i), std::move(entry));
    }
    return map;
}

} // namespace

CVAnyMap makeTranscribedEventData(const Transcription& result)
{
    CVAnyMap data{
        {"text", result.text},
        {"processingTime", static_cast<long long>(result.processingTimeMs)},
        {"start", index(result.start)},
        {"end", index(result.end)},
        {"segments", describeSegments(result.segments, result.withWords)},
    };
    if (!result.language.empty()) {
        data.set("language", result.language);
        data.set("languageProbability", static_cast<double>(result.languageProbability));
    }
    return data;
}

} // namespace corvane::extensions::whisper
