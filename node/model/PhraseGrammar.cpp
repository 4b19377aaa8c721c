#include "PhraseGrammar.h"

#include <sstream>

namespace corvane::extensions::whisper {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string trimmedLowerCase(const std::string& field)
{
    std::size_t begin = 0;
    std::size_t end = field.size();
    while (begin < end && isBlank(field[begin]))
        ++begin;
    while (end > begin && isBlank(field[end - 1]))
        --end;

    std::string phrase = field.substr(begin, end - begin);
    for (char& c : phrase)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return phrase;
}

whisper_grammar_element element(whisper_gretype type, uint32_t value)
{
    return whisper_grammar_element { type, value };
}

/// Bytes in the UTF-8 sequence that `lead` starts; 0 for a byte that starts none.
std::size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead >> 5) == 0x6)
        return 2;
    if ((lead >> 4) == 0xE)
        return 3;
    if ((lead >> 3) == 0x1E)
        return 4;
    return 0;
}

/// One CHAR element per character: whisper.cpp matches grammars against the
/// decoded text, so "ß" must be U+00DF, not its two bytes. A byte that is not
/// part of a well-formed sequence stays a character of its own value.
void appendCharacters(const std::string& phrase, std::vector<whisper_grammar_element>& rule)
{
    for (std::size_t i = 0; i < phrase.size();) {
        const auto lead = static_cast<unsigned char>(phrase[i]);
        std::size_t length = sequenceLength(lead);
        bool wellFormed = length > 0 && i + length <= phrase.size();
        uint32_t code = length <= 1 ? lead : (lead & (0xFFu >> (length + 1)));
        for (std::size_t k = 1; wellFormed && k < length; ++k) {
            const auto next = static_cast<unsigned char>(phrase[i + k]);
            wellFormed = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not
        // well-formed UTF-8 either.
        static constexpr uint32_t kSmallestOfLength[] = { 0, 0, 0x80, 0x800, 0x10000 };
        wellFormed = wellFormed && code >= kSmallestOfLength[length] && code <= 0x10FFFF &&
                     (code < 0xD800 || code > 0xDFFF);
        if (!wellFormed) {
            code = lead;
            length = 1;
        }
        rule.push_back(element(WHISPER_GRETYPE_CHAR, code));
        i += length;
    }
}

} // namespace

std::vector<std::string> parsePhraseList(const std::string& value)
{
    std::vector<std::string> phrases;
    std::istringstream stream(value);
    std::string field;
    while (std::getline(stream, field, ',')) {
        std::string phrase = trimmedLowerCase(field);
        if (!phrase.empty())
            phrases.push_back(std::move(phrase));
    }
    return phrases;
}

void PhraseGrammar::build(const std::vector<std::string>& phrases, whisper_full_params& params)
{
    rules.clear();
    rulePointers.clear();
    if (phrases.empty()) {
        params.grammar_rules = nullptr;
        params.n_grammar_rules = 0;
        return;
    }

    std::vector<whisper_grammar_element> root {
        element(WHISPER_GRETYPE_CHAR, ' '),
        element(WHISPER_GRETYPE_RULE_REF, 1),
        element(WHISPER_GRETYPE_END, 0),
    };

    std::vector<whisper_grammar_element> alternatives;
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        if (i > 0)
            alternatives.push_back(element(WHISPER_GRETYPE_ALT, 0));
        appendCharacters(phrases[i], alternatives);
    }
    alternatives.push_back(element(WHISPER_GRETYPE_END, 0));

    rules.push_back(std::move(root));
    rules.push_back(std::move(alternatives));
    for (const auto& rule : rules)
        rulePointers.push_back(rule.data());

    params.grammar_rules = rulePointers.data();
    params.n_grammar_rules = rulePointers.size();
    params.i_start_rule = 0;
    params.grammar_penalty = 100.0f;
}

} // namespace corvane::extensions::whisper
