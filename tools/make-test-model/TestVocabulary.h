#pragma once

#include <string>
#include <vector>

namespace corvane::testmodel {

/// The token texts written into a test model, indexed by token id.
///
/// Laid out like the published English models' vocabulary: the 256 byte
/// tokens in GPT-2 order first, then 50,000 merged tokens, then
/// "<|endoftext|>" at id 50256. whisper.cpp names the special tokens past it
/// itself. The merged tokens are made-up ASCII syllables, half of them with a
/// leading space, so whatever a weight-less model emits reads as words.
///
/// A lone byte of 0x80 or above is not valid UTF-8, so those byte tokens hold
/// U+FFFD instead: text from a test model is always valid UTF-8, which keeps
/// tests that pass it on from failing at random.
std::vector<std::string> makeTestVocabulary();

} // namespace corvane::testmodel
