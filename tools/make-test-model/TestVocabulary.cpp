#include "TestVocabulary.h"

#include <string_view>

namespace corvane::testmodel {
namespace {
constexpr int byteTokenCount = 256;
constexpr int endOfTextToken = 50256;
constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

std::string byteToken(int byte)
{
    if (byte >= 0x80)
        return std::string(replacementCharacter);
    return std::string(1, static_cast<char>(byte));
}

// GPT-2 lists the printable bytes first, in byte order, then the rest.
bool isPrintableInGpt2Order(int byte)
{
    return (byte >= '!' && byte <= '~') || (byte >= 0xA1 && byte <= 0xAC) || (byte >= 0xAE && byte <= 0xFF);
}

// Numbers the words of one, two, then three syllables, so every index up to
// 75 + 75^2 + 75^3 gets a distinct word and tokenising stays unambiguous.
std::string syllableWord(int index)
{
    constexpr std::string_view consonants = "bdfghklmnprstvz";
    constexpr std::string_view vowels = "aeiou";
    constexpr int syllables = static_cast<int>(consonants.size() * vowels.size());

    int length = 1;
    for (int block = syllables; index >= block; block *= syllables) {
        index -= block;
        ++length;
    }

    std::string word;
    for (int i = 0; i < length; ++i) {
        const int syllable = index % syllables;
        index /= syllables;
        word += consonants[static_cast<size_t>(syllable) / vowels.size()];
        word += vowels[static_cast<size_t>(syllable) % vowels.size()];
    }
    return word;
}
} // namespace

std::vector<std::string> makeTestVocabulary()
{
    std::vector<std::string> tokens;
    tokens.reserve(endOfTextToken + 1);

    for (int byte = 0; byte < byteTokenCount; ++byte)
        if (isPrintableInGpt2Order(byte))
            tokens.push_back(byteToken(byte));
    for (int byte = 0; byte < byteTokenCount; ++byte)
        if (!isPrintableInGpt2Order(byte))
            tokens.push_back(byteToken(byte));

    for (int merged = 0; static_cast<int>(tokens.size()) < endOfTextToken; ++merged) {
        // Appended, not `"" + string`: GCC 12 at -O3 warns (-Wrestrict) on that.
        std::string word = merged % 2 == 0 ? " " : "";
        word += syllableWord(merged / 2);
        tokens.push_back(std::move(word));
    }

    tokens.push_back("<|endoftext|>");
    return tokens;
}

} // namespace corvane::testmodel
