#include "WhisperControlTokens.h"

#include "ModelImportError.h"

#include <whisper.h>

namespace corvane::modelimport {
namespace {

// whisper.cpp's token layout: the English-only vocabulary's size and where
// its text ends; multilingual ones have one ordinary token more.
constexpr int32_t englishOnlySize = 51864;
constexpr int32_t englishOnlyEndOfText = 50256;
constexpr int32_t timestampCount = 1501; // 0.00 to 30.00 s, 20 ms apart

std::string timestamp(int index)
{
    const int hundredths = 2 * index;
    const std::string fraction = std::to_string(hundredths % 100);
    return "<|" + std::to_string(hundredths / 100) + "." + (fraction.size() < 2 ? "0" : "") + fraction + "|>";
}

/// Older conversions (the English-only models') name Hebrew by its former
/// code and the no-speech token after captions.
bool isOlderName(const std::string& spelling, const std::string& wanted)
{
    return (wanted == "<|he|>" && spelling == "<|iw|>") || (wanted == "<|nospeech|>" && spelling == "<|nocaptions|>");
}

} // namespace

std::vector<std::string> whisperControlTokens(int32_t vocabularySize)
{
    const int32_t multilingual = vocabularySize > englishOnlySize ? 1 : 0;
    const int32_t languages = vocabularySize - englishOnlyEndOfText - multilingual - 2 - 6 - timestampCount;
    if (vocabularySize < englishOnlySize || languages > whisper_lang_max_id() + 1)
        return {};
    std::vector<std::string> tokens{"<|endoftext|>", "<|startoftranscript|>"};
    for (int language = 0; language < languages; ++language)
        tokens.push_back(std::string("<|") + whisper_lang_str(language) + "|>");
    for (const char* task : {"<|translate|>", "<|transcribe|>", "<|startoflm|>", "<|startofprev|>", "<|nospeech|>",
                             "<|notimestamps|>"})
        tokens.emplace_back(task);
    for (int i = 0; i < timestampCount; ++i)
        tokens.push_back(timestamp(i));
    return tokens;
}

void checkWhisperControlTokens(const std::vector<std::string>& spellings, int32_t endOfTextId,
                               int32_t vocabularySize)
{
    if (std::ssize(spellings) > vocabularySize)
        throw ModelImportError("shapes disagree: the vocabulary lists " + std::to_string(spellings.size()) +
                               " tokens, the token embedding has " + std::to_string(vocabularySize) + " rows");
    // Below Whisper's sizes (test models) whisper.cpp's ids cannot all exist.
    if (vocabularySize < englishOnlySize)
        return;
    const std::vector<std::string> expected = whisperControlTokens(vocabularySize);
    if (expected.empty())
        throw ModelImportError("a vocabulary of " + std::to_string(vocabularySize) + " tokens has more language "
                               "tokens than the " + std::to_string(whisper_lang_max_id() + 1) +
                               " languages whisper.cpp knows");
    const int32_t expectedEndOfText = vocabularySize - static_cast<int32_t>(expected.size());
    if (endOfTextId != expectedEndOfText)
        throw ModelImportError("the vocabulary has <|endoftext|> as token " + std::to_string(endOfTextId) +
                               "; whisper.cpp takes a vocabulary of " + std::to_string(vocabularySize) +
                               " tokens to have it at " + std::to_string(expectedEndOfText));
    for (size_t id = static_cast<size_t>(endOfTextId) + 1; id < spellings.size(); ++id) {
        const std::string& wanted = expected[id - static_cast<size_t>(endOfTextId)];
        if (spellings[id] != wanted && !isOlderName(spellings[id], wanted))
            throw ModelImportError("vocabulary token " + std::to_string(id) + " is \"" + spellings[id] +
                                   "\", where whisper.cpp expects \"" + wanted + "\"");
    }
}

} // namespace corvane::modelimport
