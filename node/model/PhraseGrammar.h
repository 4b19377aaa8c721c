#pragma once

#include <string>
#include <vector>

#include <whisper.h>

namespace corvane::extensions::whisper {

/// Splits a comma-separated phrase list. Each field is trimmed of spaces and
/// horizontal tabs, dropped when empty and lower-cased (A-Z only; other bytes,
/// UTF-8 included, are kept as they are). Order and duplicates are kept.
std::vector<std::string> parsePhraseList(const std::string& value);

/// A whisper.cpp grammar that accepts exactly one of the phrases, after a
/// leading space (whisper.cpp's text tokens start with one):
///
///     root   ::= " " phrase
///     phrase ::= "yes" | "no" | ...
///
/// Each character of a phrase is one element holding its code point, since
/// whisper.cpp matches grammars against decoded text; a byte outside a
/// well-formed UTF-8 sequence is an element of its own value.
///
/// whisper_full_params keeps pointers into this object, so it is neither
/// copyable nor movable: keep it alive and in place for as long as the params
/// it was built into are used.
class PhraseGrammar {
public:
    PhraseGrammar() = default;
    PhraseGrammar(const PhraseGrammar&) = delete;
    PhraseGrammar& operator=(const PhraseGrammar&) = delete;

    /// Rebuilds the grammar and points params at it: grammar_rules,
    /// n_grammar_rules (2), i_start_rule (0) and grammar_penalty (100). With no
    /// phrases the grammar is switched off (grammar_rules null, n_grammar_rules
    /// 0) and the other two fields are left alone.
    void build(const std::vector<std::string>& phrases, whisper_full_params& params);

    std::vector<std::vector<whisper_grammar_element>> rules;
    std::vector<const whisper_grammar_element*> rulePointers;
};

} // namespace corvane::extensions::whisper
