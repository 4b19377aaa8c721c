#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::modelimport {

/// whisper.cpp does not read its control tokens (end of text, languages,
/// tasks, timestamps) from a model file: it places them
/// itself, by fixed ids that depend only on the vocabulary's size (51864
/// English-only, 51865 multilingual, 51866 with a hundredth language). These
/// are their spellings in id order, from "<|endoftext|>" to the last
/// timestamp, or none for a size that whisper.cpp does not lay out so.
/// Language tokens follow whisper.cpp's own language table.
std::vector<std::string> whisperControlTokens(int32_t vocabularySize);

/// Checks a source vocabulary against where whisper.cpp will look: its
/// "<|endoftext|>" (at `endOfTextId`) and every spelling after it must be
/// the token whisper.cpp expects at that id, or the imported model would
/// detect, transcribe and translate under the wrong tokens without a word.
/// Raises ModelImportError otherwise, or when `spellings` outnumber the
/// embedding's `vocabularySize` rows. A listing that ends early is fine:
/// whisper.cpp names the missing tokens itself.
void checkWhisperControlTokens(const std::vector<std::string>& spellings, int32_t endOfTextId,
                               int32_t vocabularySize);

} // namespace corvane::modelimport
