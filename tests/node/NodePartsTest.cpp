// The node's self-contained pieces: the sample history, the run's window, the
// phrase grammar and the transcript clean-up.

#include "PhraseGrammar.h"
#include "SampleRingBuffer.h"
#include "StableText.h"
#include "TranscriptCleanup.h"
#include "TranscriptionEvent.h"
#include "TranscriptionWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace corvane::extensions::whisper;

namespace {

// Each sample carries its absolute index (modulo 2^24, where floats are exact).
float sampleFor(uint64_t index)
{
    return static_cast<float>(index % (uint64_t{1} << 24));
}

void writeCounting(SampleRingBuffer& ring, uint32_t n)
{
    std::vector<float> block(n);
    std::generate(block.begin(), block.end(), [i = ring.totalSamples()]() mutable { return sampleFor(i++); });
    ring.write(block.data(), n);
}

using Elements = std::vector<std::pair<whisper_gretype, uint32_t>>;

Elements elementsOf(const std::vector<whisper_grammar_element>& rule)
{
    Elements elements;
    for (const auto& e : rule)
        elements.emplace_back(e.type, e.value);
    return elements;
}

// params point at the grammar's rules: root ::= " " phrase, and phrase accepts
// exactly the alternatives, one element per character ('|' stands for ALT).
void expectGrammarFor(const std::string& list, const std::u32string& alternatives)
{
    SCOPED_TRACE(list);
    PhraseGrammar grammar;
    whisper_full_params params{};
    grammar.build(parsePhraseList(list), params);
    ASSERT_EQ(params.n_grammar_rules, 2u);
    ASSERT_EQ(params.grammar_rules[0], grammar.rules.at(0).data());
    ASSERT_EQ(params.grammar_rules[1], grammar.rules.at(1).data());
    EXPECT_EQ(params.grammar_penalty, 100.0f);
    Elements phrase;
    for (const char32_t c : alternatives)
        phrase.emplace_back(c == U'|' ? WHISPER_GRETYPE_ALT : WHISPER_GRETYPE_CHAR, c == U'|' ? 0 : c);
    phrase.emplace_back(WHISPER_GRETYPE_END, 0);
    EXPECT_EQ(elementsOf(grammar.rules[0]),
              (Elements{{WHISPER_GRETYPE_CHAR, ' '}, {WHISPER_GRETYPE_RULE_REF, 1}, {WHISPER_GRETYPE_END, 0}}));
    EXPECT_EQ(elementsOf(grammar.rules[1]), phrase);
}

} // namespace

// Every retained sample sits at its ring position and in the mirror, so the
// oldest one starts a contiguous run of all of them.
TEST(SampleRingBuffer, DeliveriesOfAnySizeKeepTheHistoryIntact)
{
    SampleRingBuffer ring(1237); // not a power of two, smaller than most blocks
    std::mt19937 random(12345);
    std::uniform_int_distribution<uint32_t> blockSize(1, 8192);
    for (int delivery = 0; delivery < 400; ++delivery) {
        // Now and then one longer than the ring: only its newest samples stay.
        writeCounting(ring, delivery % 50 == 49 ? 5 * ring.capacity() + 17 : blockSize(random));
        const uint64_t total = ring.totalSamples(), oldest = total - ring.count();
        ASSERT_EQ(ring.count(), std::min<uint64_t>(total, ring.capacity()));
        const float* run = ring.window(ring.ringPositionOf(oldest));
        for (uint64_t i = oldest; i < total; ++i) {
            ASSERT_EQ(ring.data()[ring.ringPositionOf(i)], sampleFor(i)) << "absolute index " << i;
            ASSERT_EQ(run[i - oldest], sampleFor(i)) << "contiguous run, absolute index " << i;
        }
    }
}

// The writer stays less than half a ring ahead of what the reader has checked,
// so a counter published before its samples, or a wrong position or mirror,
// shows as a wrong value.
TEST(SampleRingBufferConcurrency, ReaderSeesEverySampleTheCounterPublishes)
{
    constexpr uint32_t capacity = 16411;
    constexpr uint64_t samplesToWrite = 6'000'000;
    SampleRingBuffer ring(capacity);
    std::atomic<uint64_t> verified{0};
    uint64_t mismatches = 0; // the reader's until it is joined

    std::thread reader([&] {
        for (uint64_t next = 0; next < samplesToWrite;) {
            const uint64_t total = ring.totalSamples();
            const float* run = ring.window(ring.ringPositionOf(next)); // one read through the mirror, as a run does
            for (uint64_t i = next; i < total; ++i)
                mismatches += run[i - next] != sampleFor(i) ? 1 : 0;
            if (total == next)
                std::this_thread::yield(); // nothing new
            next = total;
            verified.store(next, std::memory_order_release);
        }
    });
    std::mt19937 random(777);
    std::uniform_int_distribution<uint32_t> blockSize(1, 8192);
    for (uint64_t written = 0; written < samplesToWrite;) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(blockSize(random), samplesToWrite - written));
        while (written + n - verified.load(std::memory_order_acquire) > capacity / 2)
            std::this_thread::yield();
        writeCounting(ring, n);
        written += n;
    }
    reader.join();
    EXPECT_EQ(mismatches, 0u);
}

TEST(AudioContext, GrowsWithTheWindowWithinTheModelsRange)
{
    const std::pair<uint32_t, int> cases[] = {{0, 1000}, {kMinimumRunSamples, 1000}, {279040, 1000}, {279360, 1001},
                                              {320000, 1128}, {439040, 1500}, {439360, 1500}, {UINT32_MAX, 1500}};
    for (const auto& [samples, context] : cases)
        EXPECT_EQ(audioContextFor(samples), context) << samples << " samples";
    EXPECT_EQ(kMinimumRunSamples, 17000u);
}

// Each window is placed by the low 32 bits of its indices and checked against
// the same placement on full 64-bit indices, where nothing wraps.
TEST(PlaceWindow, PlacesClampsAndRefusesWindows)
{
    constexpr int64_t T = 2'000'000, C = 480000, W = (int64_t{1} << 32) + 5000; // C: 30 s; W: just past 2^32
    const int64_t cases[][3] = {
        {T, T - 320000, T}, {T, T - C, T}, {T, T - 9000, T - 7400},  // 20 s, 30 s, short
        {T, T - 600000, T - 100000}, {T, T - 1000, T + 16000}, {T, T - 900000, T + 5}, // clamped
        {1000, 0, 5000},                                              // ring not yet full
        {T, T - 100, T - 200}, {T, T - 100, T - 100}, {T, T + 10, T + 20000}, {T, T, T + 20000},
        {T, T - 900000, T - C}, {0, 0, 100},                          // nothing to transcribe
        {W, W - 8000, W - 3000}, {W, W - 605000, W + 2000},           // 2^32 is no multiple of the capacity
    };
    for (const auto& [total, start, end] : cases) {
        SCOPED_TRACE(::testing::Message() << "total " << total << " window " << start << ".." << end);
        const int64_t oldest = std::max<int64_t>(0, total - C), first = std::max(start, oldest), last = std::min(end, total);
        const WindowPlacement p = placeWindow(static_cast<uint32_t>(start), static_cast<uint32_t>(end),
                                              historyAt(static_cast<uint64_t>(total), C));
        ASSERT_EQ(p.valid, last > first);
        if (!p.valid)
            continue;
        EXPECT_EQ(p.firstIndex, static_cast<uint32_t>(first));
        EXPECT_EQ(p.endIndex, static_cast<uint32_t>(last));
        EXPECT_EQ(p.sampleCount, static_cast<uint32_t>(last - first));
        EXPECT_EQ(p.paddedCount, std::max(p.sampleCount, kMinimumRunSamples));
        EXPECT_EQ(p.clampedStart, start < oldest);
        EXPECT_EQ(p.clampedEnd, end > total);
    }
    EXPECT_FALSE(placeWindow(0, 100, HistoryState{}).valid) << "no ring";
}

TEST(PhraseGrammar, OneElementPerCodePointOfEachTrimmedLowerCasePhrase)
{
    expectGrammarFor(" Yes , NO,,  stop\t,", U"yes|no|stop");
    // whisper.cpp matches decoded text; only A-Z are lower-cased; ♪ is three bytes.
    expectGrammarFor("Straße,ДА,ok\xE2\x99\xAA", U"stra\u00DFe|\u0414\u0410|ok\u266A");
    // A lone continuation byte, cut-short leads, past U+10FFFF, an overlong
    // NUL and a surrogate are not well-formed: each byte stays an element.
    expectGrammarFor("a\x80" "b\xC3" "z\xE2", U"a\x80" U"b\xC3" U"z\xE2");
    expectGrammarFor("x\xF7\xBF\xBF\xBF", U"x\xF7\xBF\xBF\xBF");
    expectGrammarFor("\xC0\x80" "0", U"\xC0\x80" U"0");
    expectGrammarFor("\xED\xA0\x80", U"\xED\xA0\x80");
    EXPECT_EQ(parsePhraseList("\nnew line\n"), std::vector<std::string>{"\nnew line\n"}) << "only spaces and tabs trimmed";
}

TEST(PhraseGrammar, NoPhrasesSwitchTheGrammarOffAndLeaveNothingPointingAtOldRules)
{
    PhraseGrammar grammar;
    whisper_full_params params{};
    grammar.build({"one", "two"}, params);
    grammar.build(parsePhraseList(" , \t,,"), params);
    EXPECT_TRUE(params.grammar_rules == nullptr && params.n_grammar_rules == 0 && grammar.rules.empty());
}

// fuzz/ checks the scanner against the std::regex definition on random texts.
TEST(CleanTranscription, DropsAnnotationsAndKeepsSpeech)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"[BLANK_AUDIO]", ""}, {"Hello (laughs) world", "Hello world"}, {"a *sigh* b", "a b"}, {"...", ""},
        {" Привет, мир", " Привет, мир"}, {"\u266A la la \u266C", " la la"}, {"keep [open bracket", "keep [open bracket"},
        {"[outer [inner] rest] end", " rest] end"}, {"\t\n lead", " lead"}, {"trail \t\n\r\v\f", "trail"},
        {"\xE2[x]\x99\xAA ok", " ok"}, // removing the annotation completes a note
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(cleanTranscription(input), expected) << "input: " << input;
}

// Far past where std::regex overflows an 8 MiB stack (about 26k bytes).
// An annotation over several words goes with all of them; a segment left
// without speech goes.
TEST(CleanTranscription, SegmentsAndTheirWordsByTheSameRule)
{
    auto word = [](const char* text) { return TranscribedWord{text, 0, 0, 0.5f}; };
    std::vector<TranscribedSegment> segments{
        {" [BLANK_AUDIO]", 0, 10, 0.9f, 0.1f, {word(" [BL"), word("ANK_AUDIO]")}},
        {" So (upbeat music) \u266A yes.", 20, 30, 0.8f, 0.2f,
         {word(" So"), word(" (upbeat"), word(" music)"), word(" \u266A"), word(" yes.")}},
    };
    cleanSegments(segments);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].text, " So yes.");
    std::vector<std::string> words;
    for (const TranscribedWord& kept : segments[0].words)
        words.push_back(kept.text);
    EXPECT_EQ(words, (std::vector<std::string>{" So", " yes."}));
}

TEST(TranscribedEvent, SegmentsAndWordsAreMapsKeyedInOrder)
{
    using corvane::CVAny, corvane::CVAnyMap;
    Transcription result{" a b", 12, 1000, 5000, {}, true};
    result.segments.resize(1001, {" a", 1100, 1900, 0.75f, 0.25f, {{" a", 1100, 1500, 0.5f}}});
    const CVAnyMap data = makeTranscribedEventData(result);
    const CVAnyMap segments = data.at("segments").asMap();
    ASSERT_EQ(segments.size(), 1001u);
    EXPECT_EQ(segments.begin()->first, "0000") << "one width for all, so that the keys sort in order";
    EXPECT_EQ(std::prev(segments.end())->first, "1000");
    EXPECT_EQ(segments.at("0007").asMap().at("words"),
              CVAny(CVAnyMap{{"000", CVAnyMap{{"text", " a"}, {"start", 1100}, {"end", 1500}, {"probability", 0.5}}}}));
    result.segments.resize(2);
    result.withWords = false;
    EXPECT_EQ(makeTranscribedEventData(result),
              (CVAnyMap{{"text", " a b"}, {"processingTime", 12}, {"start", 1000}, {"end", 5000},
                        {"segments", CVAnyMap{{"000", CVAnyMap{{"text", " a"}, {"start", 1100}, {"end", 1900},
                                                               {"probability", 0.75}, {"noSpeechProbability", 0.25}}},
                                              {"001", CVAnyMap{{"text", " a"}, {"start", 1100}, {"end", 1900},
                                                               {"probability", 0.75}, {"noSpeechProbability", 0.25}}}}}}));
}

TEST(CleanTranscription, SurvivesHostileLongTexts)
{
    constexpr std::size_t megabyte = 1 << 20;
    EXPECT_EQ(cleanTranscription("[" + std::string(megabyte, 'a') + "]"), "");
    EXPECT_EQ(cleanTranscription("a" + std::string(megabyte, ' ') + "b" + std::string(megabyte, '\n')), "a b");
    EXPECT_EQ(cleanTranscription(std::string(megabyte, '[')), ""); // quadratic if each opener searched
    EXPECT_EQ(cleanTranscription(std::string(megabyte, '(') + "x"), std::string(megabyte, '(') + "x");
}

// Local agreement of two: words stay stable once two interim texts in a row
// begin with them, and the stable text never shrinks.
TEST(CleanTranscription, TellsLoopsFromRepeatedWords)
{
    for (const char* loop : {" and what is what is what is what", "and and and and", "4. 4. 4. 4.", "Go F... Go F... Go F..."})
        EXPECT_TRUE(repeatsItself(loop)) << loop;
    for (const char* speech : {"", " No, no, no.", " That that is, is.", " Ask what you can do for your country."})
        EXPECT_FALSE(repeatsItself(speech)) << speech;
    EXPECT_TRUE(repeatsAPhrase(" And so my fellow American. And so my fellow Americans"));
    EXPECT_TRUE(repeatsAPhrase("one two three four one two three four"));
    for (const char* speech : {"", " one two three four one two three", " Ask not what your country can do for you, ask what you can do for your country."})
        EXPECT_FALSE(repeatsAPhrase(speech)) << speech;
}

TEST(StableText, GrowsByAgreementAndNeverShrinks)
{
    const std::pair<const char*, const char*> steps[] = {
        {" And so", ""},
        {" And so my", "And so"},
        {" And so my fellow", "And so my"},
        {" And sew my", "And so my"},          // disagreement keeps what was stable
        {" And sew my fellow", "And so my"},   // agreement that contradicts it does not replace it
        {" And so my fellow Americans", "And so my"},
        {" And so my fellow Americans ask", "And so my fellow Americans"},
        {"", "And so my fellow Americans"},
    };
    StableText stable;
    for (const auto& [interim, expected] : steps)
        EXPECT_EQ(stable.update(interim), expected) << interim;
    stable.restart();
    EXPECT_EQ(stable.update(" Ask"), "");
}
