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
        for (const char c : phrases[i])
            alternatives.push_back(element(WHISPER_GRETYPE_CHAR, static_cast<unsigned char>(c)));
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
