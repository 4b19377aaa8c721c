// parsePhraseList and PhraseGrammar::build on any text: the phrases are the list's trimmed, lower-cased, non-empty
// fields, and the grammar built from them has exactly the documented shape, also when rebuilt over an earlier one.

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "PhraseGrammar.h"

using namespace corvane::extensions::whisper;

namespace {

/// The documented reading of a phrase list, written out the plain way.
std::vector<std::string> referencePhrases(const std::string& list)
{
    std::vector<std::string> phrases;
    for (std::size_t begin = 0, comma = 0; begin <= list.size(); begin = comma + 1) {
        comma = std::min(list.find(',', begin), list.size());
        const std::string field = list.substr(begin, comma - begin);
        if (const std::size_t first = field.find_first_not_of(" \t"); first != std::string::npos) {
            phrases.push_back(field.substr(first, field.find_last_not_of(" \t") - first + 1));
            for (char& c : phrases.back())
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 'a' - 'A') : c;
        }
    }
    return phrases;
}

/// root ::= " " phrase; phrase ::= one alternative per phrase, one character element per character: ASCII bytes as
/// they are, anything else decoded (at most one element per byte, every value a code point).
void checkGrammar(const PhraseGrammar& grammar, const std::vector<std::string>& phrases, const whisper_full_params& params)
{
    if (phrases.empty())
        return FUZZ_CHECK(!params.grammar_rules && !params.n_grammar_rules && grammar.rules.empty() && grammar.rulePointers.empty());
    FUZZ_CHECK(params.n_grammar_rules == 2 && grammar.rules.size() == 2 && params.grammar_rules == grammar.rulePointers.data());
    FUZZ_CHECK(params.grammar_rules[0] == grammar.rules[0].data() && params.grammar_rules[1] == grammar.rules[1].data());
    FUZZ_CHECK(params.i_start_rule == 0 && params.grammar_penalty == 100.0f);
    const auto& root = grammar.rules[0];
    FUZZ_CHECK(root.size() == 3 && root[0].type == WHISPER_GRETYPE_CHAR && root[0].value == ' ');
    FUZZ_CHECK(root[1].type == WHISPER_GRETYPE_RULE_REF && root[1].value == 1 && root[2].type == WHISPER_GRETYPE_END);
    const auto& alternatives = grammar.rules[1];
    std::size_t at = 0;
    for (std::size_t p = 0; p < phrases.size(); ++p) {
        FUZZ_CHECK(p == 0 || (at < alternatives.size() && alternatives[at++].type == WHISPER_GRETYPE_ALT));
        const std::size_t first = at;
        bool ascii = true;
        for (; at < alternatives.size() && alternatives[at].type == WHISPER_GRETYPE_CHAR; ++at) {
            const uint32_t value = alternatives[at].value;
            FUZZ_CHECK(value <= 0x10FFFF && (value != 0 || phrases[p].find('\0') != std::string::npos));
            ascii = ascii && at - first < phrases[p].size() && static_cast<unsigned char>(phrases[p][at - first]) < 0x80;
            FUZZ_CHECK(!ascii || value == static_cast<unsigned char>(phrases[p][at - first]));
        }
        FUZZ_CHECK(at > first && at - first <= phrases[p].size() && (!ascii || at - first == phrases[p].size()));
    }
    FUZZ_CHECK(at + 1 == alternatives.size() && alternatives[at].type == WHISPER_GRETYPE_END);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const std::string list = data.ConsumeRandomLengthString(size);
    const std::vector<std::string> phrases = parsePhraseList(list);
    FUZZ_CHECK(phrases == referencePhrases(list));
    PhraseGrammar grammar;
    whisper_full_params params{};
    params.i_start_rule = 7, params.grammar_penalty = -1.0f;
    grammar.build(phrases, params);
    checkGrammar(grammar, phrases, params);
    FUZZ_CHECK(!phrases.empty() || (params.i_start_rule == 7 && params.grammar_penalty == -1.0f));
    // A rebuild replaces the rules; nothing may point at the old ones.
    const std::vector<std::string> others = parsePhraseList(data.ConsumeRemainingBytesAsString());
    grammar.build(others, params);
    checkGrammar(grammar, others, params);
    return 0;
}
