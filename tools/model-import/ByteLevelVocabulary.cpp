#include "ByteLevelVocabulary.h"

#include "ModelImportError.h"

#include <algorithm>
#include <fstream>
#include <string_view>

#include <nlohmann/json.hpp>

namespace corvane::modelimport {
namespace {

constexpr const char* endOfText = "<|endoftext|>";

bool spelledAsItself(int byte)
{
    return (byte >= '!' && byte <= '~') || (byte >= 0xA1 && byte <= 0xAC) || (byte >= 0xAE && byte <= 0xFF);
}

/// The next code point of `text` from `position`, or -1 for malformed UTF-8.
long nextCodePoint(const std::string& text, size_t& position)
{
    const auto lead = static_cast<unsigned char>(text[position++]);
    int continuation = 0;
    long codePoint = 0;
    if (lead < 0x80) {
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        continuation = 1;
        codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        continuation = 2;
        codePoint = lead & 0x0F;
    } else {
        return -1; // the alphabet ends at U+0143: nothing longer is valid here
    }
    for (; continuation > 0; --continuation) {
        if (position >= text.size() || (static_cast<unsigned char>(text[position]) & 0xC0) != 0x80)
            return -1;
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[position++]) & 0x3F);
    }
    return codePoint;
}

} // namespace

std::vector<std::string> readVocabularySpellings(const std::filesystem::path& folder)
{
    std::error_code error;
    const auto jsonPath = folder / "vocabulary.json";
    const auto textPath = folder / "vocabulary.txt";
    std::vector<std::string> spellings;
    if (std::filesystem::is_regular_file(jsonPath, error)) {
        std::ifstream in(jsonPath, std::ios::binary);
        try {
            spellings = nlohmann::json::parse(in).get<std::vector<std::string>>();
        } catch (const nlohmann::json::exception&) {
            throw ModelImportError(jsonPath.string() + " is not a JSON array of token strings");
        }
        return spellings;
    }
    if (!std::filesystem::is_regular_file(textPath, error))
        throw ModelImportError("missing file " + textPath.string() + " (or vocabulary.json)");
    std::ifstream in(textPath, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        spellings.push_back(std::move(line));
    }
    return spellings;
}

namespace {

/// The length of the well-formed UTF-8 prefix of a sequence starting at
/// `position`, or 0 when the lead byte cannot start one; `complete` tells
/// whether that prefix is a whole character.
size_t wellFormedPrefix(const std::string& bytes, size_t position, bool& complete)
{
    const auto lead = static_cast<unsigned char>(bytes[position]);
    complete = true;
    if (lead < 0x80)
        return 1;
    // Allowed range of the second byte and the sequence length, per lead byte.
    unsigned char low = 0x80, high = 0xBF;
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        complete = false;
        return 0;
    }
    size_t valid = 1;
    for (; valid < length && position + valid < bytes.size(); ++valid) {
        const auto next = static_cast<unsigned char>(bytes[position + valid]);
        if (next < (valid == 1 ? low : 0x80) || next > (valid == 1 ? high : 0xBF))
            break;
    }
    complete = valid == length;
    return valid;
}

} // namespace

std::string replaceMalformedUtf8(const std::string& bytes)
{
    constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string text;
    for (size_t position = 0; position < bytes.size();) {
        bool complete = false;
        const size_t length = wellFormedPrefix(bytes, position, complete);
        if (complete)
            text.append(bytes, position, length);
        else
            text += replacement;
        position += std::max<size_t>(length, 1);
    }
    return text;
}

int byteForSpellingCodePoint(char32_t codePoint)
{
    if (codePoint < 0x100)
        return spelledAsItself(static_cast<int>(codePoint)) ? static_cast<int>(codePoint) : -1;
    // The bytes without a printable self, in order, took U+0100 onwards.
    int index = static_cast<int>(codePoint - 0x100);
    for (int byte = 0; byte < 256; ++byte)
        if (!spelledAsItself(byte) && index-- == 0)
            return byte;
    return -1;
}

std::string decodeByteLevelToken(const std::string& spelling)
{
    std::string bytes;
    for (size_t position = 0; position < spelling.size();) {
        const long codePoint = nextCodePoint(spelling, position);
        const int byte = codePoint < 0 ? -1 : byteForSpellingCodePoint(static_cast<char32_t>(codePoint));
        if (byte < 0)
            throw ModelImportError("a vocabulary token is not in byte-level BPE spelling");
        bytes.push_back(static_cast<char>(byte));
    }
    return bytes;
}

std::vector<std::string> readByteLevelVocabulary(const std::filesystem::path& modelFolder)
{
    return decodeByteLevelVocabulary(readVocabularySpellings(modelFolder), modelFolder);
}

std::vector<std::string> decodeByteLevelVocabulary(const std::vector<std::string>& spellings,
                                                   const std::filesystem::path& modelFolder)
{
    std::vector<std::string> tokens;
    for (const auto& spelling : spellings) {
        // Special tokens are plain ASCII, so they decode to themselves.
        try {
            tokens.push_back(replaceMalformedUtf8(decodeByteLevelToken(spelling)));
        } catch (const ModelImportError&) {
            // The text itself may be anything; its id says where to look.
            throw ModelImportError("vocabulary token " + std::to_string(tokens.size()) + " in " +
                                   modelFolder.string() + " is not in byte-level BPE spelling");
        }
        if (spelling == endOfText)
            return tokens;
    }
    throw ModelImportError("the vocabulary in " + modelFolder.string() + " has no " + endOfText + " token");
}

} // namespace corvane::modelimport
