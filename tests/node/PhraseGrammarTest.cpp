#include "PhraseGrammar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using namespace corvane::extensions::whisper;

namespace {

using Phrases = std::vector<std::string>;
using Elements = std::vector<std::pair<whisper_gretype, uint32_t>>;

// Parameters as the node holds them, with sentinels in the fields an empty
// grammar must leave alone.
whisper_full_params paramsWithSentinels()
{
    whisper_full_params params {};
    params.i_start_rule = 42;
    params.grammar_penalty = -1.0f;
    return params;
}

Elements elementsOf(const std::vector<whisper_grammar_element>& rule)
{
    Elements elements;
    for (const auto& e : rule)
        elements.emplace_back(e.type, e.value);
    return elements;
}

// params point at the grammar's own rules, root ::= " " phrase, and phrase
// accepts exactly the alternatives, one element per character ('|' between
// alternatives stands for ALT).
void expectGrammar(const PhraseGrammar& grammar, const whisper_full_params& params, const std::u32string& alternatives)
{
    ASSERT_EQ(params.n_grammar_rules, 2u);
    ASSERT_EQ(grammar.rules.size(), 2u);
    ASSERT_EQ(params.grammar_rules, grammar.rulePointers.data());
    ASSERT_EQ(params.grammar_rules[0], grammar.rules[0].data());
    ASSERT_EQ(params.grammar_rules[1], grammar.rules[1].data());
    EXPECT_EQ(params.i_start_rule, 0u);
    EXPECT_EQ(params.grammar_penalty, 100.0f);

    Elements phrase;
    for (const char32_t c : alternatives)
        phrase.emplace_back(c == U'|' ? WHISPER_GRETYPE_ALT : WHISPER_GRETYPE_CHAR, c == U'|' ? 0 : c);
    phrase.emplace_back(WHISPER_GRETYPE_END, 0);
    EXPECT_EQ(elementsOf(grammar.rules[0]),
        (Elements { { WHISPER_GRETYPE_CHAR, ' ' }, { WHISPER_GRETYPE_RULE_REF, 1 }, { WHISPER_GRETYPE_END, 0 } }));
    EXPECT_EQ(elementsOf(grammar.rules[1]), phrase);
}

void expectGrammarFor(const std::string& list, const std::u32string& alternatives)
{
    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    grammar.build(parsePhraseList(list), params);
    expectGrammar(grammar, params, alternatives);
}

} // namespace

TEST(ParsePhraseList, SplitsTrimsAndLowerCases)
{
    EXPECT_EQ(parsePhraseList(" Yes , NO,,  stop\t,"), (Phrases { "yes", "no", "stop" }));
    EXPECT_EQ(parsePhraseList(""), Phrases {});
    EXPECT_EQ(parsePhraseList(",, \t, "), Phrases {});
    EXPECT_EQ(parsePhraseList("go,GO,go"), (Phrases { "go", "go", "go" }));
    EXPECT_EQ(parsePhraseList("\tTurn Left\t"), Phrases { "turn left" });
    EXPECT_EQ(parsePhraseList("\nnew line\n"), Phrases { "\nnew line\n" }) << "only spaces and tabs are trimmed";
    EXPECT_EQ(parsePhraseList("ÄRGER,Ja"), (Phrases { "Ärger", "ja" })) << "only A-Z are lower-cased";
}

TEST(PhraseGrammar, OneAlternativePerPhraseAfterALeadingSpace)
{
    expectGrammarFor(" Yes , NO,,  stop\t,", U"yes|no|stop");
    expectGrammarFor("go", U"go"); // a single phrase has no ALT
}

TEST(PhraseGrammar, NonAsciiTextIsOneCharacterPerCodePoint)
{
    // whisper.cpp decodes the text before matching it against the grammar.
    // Д and А stay upper case; ♪ is three bytes.
    expectGrammarFor("Straße,ДА,ok\xE2\x99\xAA", U"stra\u00DFe|\u0414\u0410|ok\u266A");
}

TEST(PhraseGrammar, BytesOutsideWellFormedSequencesStayBytes)
{
    // A lone continuation byte, a lead byte cut short, one at the very end,
    // a sequence that would decode past U+10FFFF, an overlong NUL and a
    // surrogate.
    expectGrammarFor("a\x80" "b\xC3" "z\xE2", U"a\x80" U"b\xC3" U"z\xE2");
    expectGrammarFor("x\xF7\xBF\xBF\xBF", U"x\xF7\xBF\xBF\xBF");
    expectGrammarFor("\xC0\x80" "0", U"\xC0\x80" U"0");
    expectGrammarFor("\xED\xA0\x80", U"\xED\xA0\x80");
}

TEST(PhraseGrammar, RebuildingRepointsTheParamsAndNoPhrasesSwitchTheGrammarOff)
{
    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    grammar.build(parsePhraseList(" , \t,,"), params);
    EXPECT_EQ(params.grammar_rules, nullptr);
    EXPECT_EQ(params.n_grammar_rules, 0u);
    EXPECT_EQ(params.i_start_rule, 42u);
    EXPECT_EQ(params.grammar_penalty, -1.0f);

    grammar.build({ "one", "two", "three" }, params);
    grammar.build({ "four" }, params);
    expectGrammar(grammar, params, U"four");

    // Nothing may keep pointing at the old rules.
    grammar.build({}, params);
    EXPECT_EQ(params.grammar_rules, nullptr);
    EXPECT_EQ(params.n_grammar_rules, 0u);
    EXPECT_TRUE(grammar.rules.empty());
    EXPECT_TRUE(grammar.rulePointers.empty());
}

TEST(PhraseGrammar, HandlesHugeLists)
{
    std::string list;
    for (int i = 0; i < 100000; ++i)
        list += " Word" + std::to_string(i) + " ,";
    const Phrases phrases = parsePhraseList(list);
    ASSERT_EQ(phrases.size(), 100000u);
    EXPECT_EQ(phrases[99999], "word99999");

    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    grammar.build(phrases, params);
    const auto& rule = grammar.rules[1];
    EXPECT_EQ(std::count_if(rule.begin(), rule.end(), [](auto e) { return e.type == WHISPER_GRETYPE_ALT; }), 99999);
    EXPECT_EQ(rule.back().type, WHISPER_GRETYPE_END);

    const std::string huge(8u << 20, 'A');
    grammar.build(parsePhraseList(huge), params);
    ASSERT_EQ(grammar.rules[1].size(), huge.size() + 1);
    EXPECT_EQ(grammar.rules[1][12345].value, static_cast<uint32_t>('a'));
}
