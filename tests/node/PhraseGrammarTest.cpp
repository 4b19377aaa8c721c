#include "PhraseGrammar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane::extensions::whisper;

namespace {

using Phrases = std::vector<std::string>;

// Parameters as the node holds them, with sentinels in the fields an empty
// grammar must leave alone.
whisper_full_params paramsWithSentinels()
{
    whisper_full_params params {};
    params.i_start_rule = 42;
    params.grammar_penalty = -1.0f;
    return params;
}

std::vector<whisper_grammar_element> charsOf(const std::string& text)
{
    std::vector<whisper_grammar_element> elements;
    for (const char c : text)
        elements.push_back({ WHISPER_GRETYPE_CHAR, static_cast<unsigned char>(c) });
    return elements;
}

void expectElements(const whisper_grammar_element* actual, const std::vector<whisper_grammar_element>& expected)
{
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].type, expected[i].type) << "element " << i;
        EXPECT_EQ(actual[i].value, expected[i].value) << "element " << i;
    }
}

const whisper_grammar_element kAlt { WHISPER_GRETYPE_ALT, 0 };
const whisper_grammar_element kEnd { WHISPER_GRETYPE_END, 0 };

} // namespace

TEST(ParsePhraseList, SplitsTrimsAndLowerCases)
{
    EXPECT_EQ(parsePhraseList(" Yes , NO,,  stop\t,"), (Phrases { "yes", "no", "stop" }));
    EXPECT_EQ(parsePhraseList(""), Phrases {});
    EXPECT_EQ(parsePhraseList(",, \t, "), Phrases {});
    EXPECT_EQ(parsePhraseList("Turn Left"), Phrases { "turn left" });
    EXPECT_EQ(parsePhraseList("go,GO,go"), (Phrases { "go", "go", "go" }));
    EXPECT_EQ(parsePhraseList("\ta b\t"), Phrases { "a b" });
    EXPECT_EQ(parsePhraseList("\nnew line\n"), Phrases { "\nnew line\n" }) << "only spaces and tabs are trimmed";
    EXPECT_EQ(parsePhraseList("ÄRGER,Ja"), (Phrases { "Ärger", "ja" })) << "only A-Z are lower-cased";
}

TEST(PhraseGrammar, OneAlternativePerPhraseAfterALeadingSpace)
{
    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    grammar.build(parsePhraseList(" Yes , NO,,  stop\t,"), params);

    ASSERT_EQ(params.n_grammar_rules, 2u);
    ASSERT_EQ(params.grammar_rules, grammar.rulePointers.data());
    EXPECT_EQ(params.i_start_rule, 0u);
    EXPECT_EQ(params.grammar_penalty, 100.0f);
    ASSERT_EQ(grammar.rules.size(), 2u);
    EXPECT_EQ(params.grammar_rules[0], grammar.rules[0].data());
    EXPECT_EQ(params.grammar_rules[1], grammar.rules[1].data());

    const std::vector<whisper_grammar_element> root {
        { WHISPER_GRETYPE_CHAR, ' ' }, { WHISPER_GRETYPE_RULE_REF, 1 }, kEnd };
    ASSERT_EQ(grammar.rules[0].size(), root.size());
    expectElements(params.grammar_rules[0], root);

    std::vector<whisper_grammar_element> phrases = charsOf("yes");
    phrases.push_back(kAlt);
    for (const auto& e : charsOf("no"))
        phrases.push_back(e);
    phrases.push_back(kAlt);
    for (const auto& e : charsOf("stop"))
        phrases.push_back(e);
    phrases.push_back(kEnd);
    ASSERT_EQ(grammar.rules[1].size(), phrases.size());
    expectElements(params.grammar_rules[1], phrases);
}

TEST(PhraseGrammar, SinglePhraseHasNoAlternative)
{
    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    grammar.build({ "go" }, params);
    auto expected = charsOf("go");
    expected.push_back(kEnd);
    ASSERT_EQ(grammar.rules[1].size(), expected.size());
    expectElements(params.grammar_rules[1], expected);
}

TEST(PhraseGrammar, NonAsciiTextIsOneCharacterPerCodePoint)
{
    // whisper.cpp decodes the text before matching it against the grammar.
    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    grammar.build(parsePhraseList("Straße,ДА,ok\xE2\x99\xAA"), params);
    std::vector<whisper_grammar_element> expected = charsOf("stra");
    expected.push_back({ WHISPER_GRETYPE_CHAR, 0xDF }); // ß
    expected.push_back({ WHISPER_GRETYPE_CHAR, 'e' });
    expected.push_back(kAlt);
    expected.push_back({ WHISPER_GRETYPE_CHAR, 0x414 }); // Д, not lower-cased
    expected.push_back({ WHISPER_GRETYPE_CHAR, 0x410 }); // А
    expected.push_back(kAlt);
    expected.push_back({ WHISPER_GRETYPE_CHAR, 'o' });
    expected.push_back({ WHISPER_GRETYPE_CHAR, 'k' });
    expected.push_back({ WHISPER_GRETYPE_CHAR, 0x266A }); // ♪, three bytes
    expected.push_back(kEnd);
    ASSERT_EQ(grammar.rules[1].size(), expected.size());
    expectElements(params.grammar_rules[1], expected);
}

TEST(PhraseGrammar, BytesOutsideWellFormedSequencesStayBytes)
{
    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    // A lone continuation byte, a lead byte cut short, and one at the very end.
    grammar.build({ std::string("a\x80" "b\xC3" "z\xE2") }, params);
    std::vector<whisper_grammar_element> expected = {
        { WHISPER_GRETYPE_CHAR, 'a' }, { WHISPER_GRETYPE_CHAR, 0x80 }, { WHISPER_GRETYPE_CHAR, 'b' },
        { WHISPER_GRETYPE_CHAR, 0xC3 }, { WHISPER_GRETYPE_CHAR, 'z' }, { WHISPER_GRETYPE_CHAR, 0xE2 }, kEnd,
    };
    ASSERT_EQ(grammar.rules[1].size(), expected.size());
    expectElements(params.grammar_rules[1], expected);
}

TEST(PhraseGrammar, NoPhrasesSwitchesTheGrammarOff)
{
    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    grammar.build(parsePhraseList(" , \t,,"), params);
    EXPECT_EQ(params.grammar_rules, nullptr);
    EXPECT_EQ(params.n_grammar_rules, 0u);
    EXPECT_EQ(params.i_start_rule, 42u);
    EXPECT_EQ(params.grammar_penalty, -1.0f);

    // Also after a grammar was in use: nothing may keep pointing at old rules.
    grammar.build({ "yes" }, params);
    ASSERT_EQ(params.n_grammar_rules, 2u);
    grammar.build({}, params);
    EXPECT_EQ(params.grammar_rules, nullptr);
    EXPECT_EQ(params.n_grammar_rules, 0u);
    EXPECT_TRUE(grammar.rules.empty());
    EXPECT_TRUE(grammar.rulePointers.empty());
}

TEST(PhraseGrammar, RebuildReplacesTheRules)
{
    PhraseGrammar grammar;
    whisper_full_params params = paramsWithSentinels();
    grammar.build({ "one", "two", "three" }, params);
    grammar.build({ "four" }, params);
    ASSERT_EQ(params.n_grammar_rules, 2u);
    ASSERT_EQ(params.grammar_rules, grammar.rulePointers.data());
    ASSERT_EQ(grammar.rules[1].size(), 5u);
    EXPECT_EQ(params.grammar_rules[1][0].value, static_cast<uint32_t>('f'));
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
    std::size_t alternatives = 0;
    for (const auto& e : grammar.rules[1])
        alternatives += e.type == WHISPER_GRETYPE_ALT;
    EXPECT_EQ(alternatives, phrases.size() - 1);
    EXPECT_EQ(grammar.rules[1].back().type, WHISPER_GRETYPE_END);

    const std::string huge(8u << 20, 'A');
    grammar.build(parsePhraseList(huge), params);
    ASSERT_EQ(grammar.rules[1].size(), huge.size() + 1);
    EXPECT_EQ(grammar.rules[1][12345].value, static_cast<uint32_t>('a'));
}
