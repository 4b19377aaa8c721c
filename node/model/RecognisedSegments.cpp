#include "RecognisedSegments.h"

#include <algorithm>

namespace corvane::extensions::whisper {

namespace {

using Edge = SpeechTimeline::Edge;

uint64_t onWindow(const SpeechTimeline& timeline, int64_t runOffset, Edge edge)
{
    return static_cast<uint64_t>(std::max<int64_t>(0, timeline.toWindow(runOffset, edge)));
}

/// Gathers a segment's text tokens into words: a token that starts with a
/// space starts a word, any other joins the word before it.
class WordBuilder {
public:
    WordBuilder(const SpeechTimeline& timeline, std::vector<TranscribedWord>& words) : timeline(timeline), words(words) {}

    void add(const char* text, const TimedToken& token)
    {
        if (words.empty() || text[0] == ' ') {
            finish();
            words.push_back({text, onWindow(timeline, token.start, Edge::Start), 0, 0.0f});
        } else {
            words.back().text += text;
        }
        TranscribedWord& word = words.back();
        word.end = std::max(word.start, onWindow(timeline, token.end, Edge::End));
        probabilitySum += token.data.p;
        ++tokens;
    }

    void finish()
    {
        if (tokens > 0)
            words.back().probability = static_cast<float>(probabilitySum / tokens);
        probabilitySum = 0.0;
        tokens = 0;
    }

private:
    const SpeechTimeline& timeline;
    std::vector<TranscribedWord>& words;
    double probabilitySum = 0.0;
    int tokens = 0;
};

} // namespace

void readSegments(whisper_context* context, const TokenTiming& timing, const SpeechTimeline& timeline,
                  bool withWords, std::vector<TranscribedSegment>& segments)
{
    segments.clear();
    const whisper_token endOfText = whisper_token_eot(context);
    for (std::size_t i = 0; i < timing.segmentCount(); ++i) {
        const int index = static_cast<int>(i);
        TranscribedSegment& segment = segments.emplace_back();
        segment.text = whisper_full_get_segment_text(context, index);
        segment.noSpeechProbability = whisper_full_get_segment_no_speech_prob(context, index);
        constexpr int64_t kSamplesPerCentisecond = WHISPER_SAMPLE_RATE / 100;
        segment.start = onWindow(timeline, whisper_full_get_segment_t0(context, index) * kSamplesPerCentisecond, Edge::Start);
        segment.end = std::max(segment.start, onWindow(timeline, whisper_full_get_segment_t1(context, index) *
                                                                     kSamplesPerCentisecond, Edge::End));

        std::vector<TranscribedWord> words;
        WordBuilder builder(timeline, words);
        double probabilitySum = 0.0;
        int textTokens = 0;
        const std::vector<TimedToken>& tokens = timing.segment(i);
        for (std::size_t t = 0; t < tokens.size(); ++t) {
            // Ids from the end-of-text token up are timestamps and other
            // markers, which the segment's text leaves out too.
            if (tokens[t].data.id >= endOfText)
                continue;
            probabilitySum += tokens[t].data.p;
            ++textTokens;
            builder.add(whisper_full_get_token_text(context, index, static_cast<int>(t)), tokens[t]);
        }
        builder.finish();
        if (textTokens > 0)
            segment.probability = static_cast<float>(probabilitySum / textTokens);
        if (!words.empty()) {
            segment.start = words.front().start;
            segment.end = std::max(segment.start, words.back().end);
        }
        if (withWords)
            segment.words = std::move(words);
    }
}

} // namespace corvane::extensions::whisper
