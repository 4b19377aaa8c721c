#include "PhraseGrammar.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace corvane::extensions::whisper;

namespace {

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
    EXPECT_EQ(params.grammar_rules, nullptr);
    EXPECT_EQ(params.n_grammar_rules, 0u);
    EXPECT_TRUE(grammar.rules.empty());
}
