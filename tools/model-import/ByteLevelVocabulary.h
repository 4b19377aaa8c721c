#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvane::modelimport {

/// The byte a character of GPT-2's byte-level BPE spelling stands for, or -1
/// for a character outside that alphabet. The spelling gives each of the 256
/// bytes a printable code point: printable Latin-1 bytes are themselves, the
/// rest are U+0100 onwards in byte order.
int byteForSpellingCodePoint(char32_t codePoint);

/// Turns one token's spelling (UTF-8 text) into the raw bytes it stands for,
/// the form whisper.cpp keeps in a model file. Raises ModelImportError for
/// text outside the alphabet or malformed UTF-8.
std::string decodeByteLevelToken(const std::string& spelling);

/// `bytes` with each maximal malformed UTF-8 subpart replaced by U+FFFD, the
/// way the published ggml Whisper models hold token texts that are only part
/// of a character. Text built from such tokens is always valid UTF-8, which
/// the host's JSON output and text cleaning rely on; a character split across
/// tokens comes out as U+FFFD, as with those models.
std::string replaceMalformedUtf8(const std::string& bytes);

/// The ordinary tokens of a CTranslate2 model folder, decoded to bytes and
/// made valid UTF-8 as above, indexed by id: every token up to and including
/// "<|endoftext|>". whisper.cpp names the
/// special tokens after it itself. Reads vocabulary.json (a JSON array of
/// strings) or else vocabulary.txt (one token a line).
std::vector<std::string> readByteLevelVocabulary(const std::filesystem::path& modelFolder);

/// Every token spelling of a CTranslate2 model folder as listed, special
/// tokens included: vocabulary.json, or else vocabulary.txt.
std::vector<std::string> readVocabularySpellings(const std::filesystem::path& modelFolder);

/// The ordinary tokens of `spellings` as readByteLevelVocabulary() gives
/// them; `modelFolder` names the source in messages.
std::vector<std::string> decodeByteLevelVocabulary(const std::vector<std::string>& spellings,
                                                   const std::filesystem::path& modelFolder);

} // namespace corvane::modelimport
