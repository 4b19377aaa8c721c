// parsePhraseList and PhraseGrammar::build on any text: the phrases are the
// list's trimmed, lower-cased, non-empty fields, and the grammar built from
// them has exactly the documented shape, also when rebuilt over an earlier one.

#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "PhraseGrammar.h"

using namespace corvane::extensions::whisper;

namespace {

/// The documented reading of a phrase list, written out the plain way.
std::vector<std::string> referencePhrases(const std::string& list)
{
    std::vector<std::string> phrases;
    std::string field;
    auto finish = [&] {
        std::size_t begin = field.find_first_not_of(" \t");
        if (begin != std::string::npos) {
            std::string phrase = field.substr(begin, field.find_last_not_of(" \t") - begin + 1);
            for (char& c : phrase)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c + ('a' - 'A'));
            phrases.push_back(phrase);
        }
        field.clear();
    };
    for (const char c : list) {
        if (c == ',')
            finish();
        else
            field += c;
    }
    finish();
    return phrases;
}

void checkGrammar(const PhraseGrammar& grammar, const std::vector<std::string>& phrases,
                  const whisper_full_params& params)
{
    if (phrases.empty()) {
        FUZZ_CHECK(params.grammar_rules == nullptr && params.n_grammar_rules == 0);
        FUZZ_CHECK(grammar.rules.empty() && grammar.rulePointers.empty());
        return;
    }
    FUZZ_CHECK(params.n_grammar_rules == 2 && grammar.rules.size() == 2 && grammar.rulePointers.size() == 2);
    FUZZ_CHECK(params.grammar_rules == grammar.rulePointers.data());
    FUZZ_CHECK(params.grammar_rules[0] == grammar.rules[0].data());
    FUZZ_CHECK(params.grammar_rules[1] == grammar.rules[1].data());
    FUZZ_CHECK(params.i_start_rule == 0 && params.grammar_penalty == 100.0f);

    // root ::= " " phrase
    const auto& root = grammar.rules[0];
    FUZZ_CHECK(root.size() == 3);
    FUZZ_CHECK(root[0].type == WHISPER_GRETYPE_CHAR && root[0].value == ' ');
    FUZZ_CHECK(root[1].type == WHISPER_GRETYPE_RULE_REF && root[1].value == 1);
    FUZZ_CHECK(root[2].type == WHISPER_GRETYPE_END);

    // phrase ::= one alternative per phrase, one character element per
    // character: ASCII bytes as they are, anything else decoded (at most one
    // element per byte, every value a code point)
    const auto& alternatives = grammar.rules[1];
    std::size_t at = 0;
    for (std::size_t p = 0; p < phrases.size(); ++p) {
        if (p > 0) {
            FUZZ_CHECK(at < alternatives.size() && alternatives[at].type == WHISPER_GRETYPE_ALT);
            ++at;
        }
        const std::size_t first = at;
        while (at < alternatives.size() && alternatives[at].type == WHISPER_GRETYPE_CHAR) {
            FUZZ_CHECK(alternatives[at].value != 0 || phrases[p].find('\0') != std::string::npos);
            FUZZ_CHECK(alternatives[at].value <= 0x10FFFF);
            ++at;
        }
        const std::size_t characters = at - first;
        FUZZ_CHECK(characters >= 1 && characters <= phrases[p].size());
        bool ascii = true;
        for (const char c : phrases[p])
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) {
            FUZZ_CHECK(characters == phrases[p].size());
            for (std::size_t k = 0; k < characters; ++k)
                FUZZ_CHECK(alternatives[first + k].value == static_cast<unsigned char>(phrases[p][k]));
        }
    }
    FUZZ_CHECK(at + 1 == alternatives.size() && alternatives[at].type == WHISPER_GRETYPE_END);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const std::string first = data.ConsumeRandomLengthString(size);
    const std::string second = data.ConsumeRemainingBytesAsString();

    const std::vector<std::string> phrases = parsePhraseList(first);
    FUZZ_CHECK(phrases == referencePhrases(first));
    for (const std::string& phrase : phrases) {
        FUZZ_CHECK(!phrase.empty() && phrase.find(',') == std::string::npos);
        FUZZ_CHECK(phrase.front() != ' ' && phrase.front() != '\t' && phrase.back() != ' ' && phrase.back() != '\t');
    }

    PhraseGrammar grammar;
    whisper_full_params params{};
    params.i_start_rule = 7;
    params.grammar_penalty = -1.0f;
    grammar.build(phrases, params);
    checkGrammar(grammar, phrases, params);
    if (phrases.empty())
        FUZZ_CHECK(params.i_start_rule == 7 && params.grammar_penalty == -1.0f);

    // A rebuild replaces the rules; nothing may point at the old ones.
    const std::vector<std::string> others = parsePhraseList(second);
    grammar.build(others, params);
    checkGrammar(grammar, others, params);
    return 0;
}
