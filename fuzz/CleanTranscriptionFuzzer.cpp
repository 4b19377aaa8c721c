// cleanTranscription on any bytes: short inputs give byte for byte what the
// documented std::regex replacements give; every input gives text without
// annotations' leftovers that the rules forbid, and no crash or stall
// (libFuzzer's -timeout catches a quadratic path).

#include <cstdint>
#include <regex>
#include <string>

#include "FuzzCheck.h"
#include "TranscriptCleanup.h"

using corvane::extensions::whisper::cleanTranscription;

namespace {

/// std::regex recurses per character; beyond a few hundred it may exhaust the
/// stack, which is why the real code does without it.
constexpr std::size_t kLongestCompared = 256;

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string reference(const std::string& text)
{
    static const std::regex annotations(R"(\[[^\]]*\]|\([^)]*\)|\*[^*]*\*)");
    static const std::regex notes("\xE2\x99\xA9|\xE2\x99\xAA|\xE2\x99\xAB|\xE2\x99\xAC");
    static const std::regex blanks(R"(\s+)");
    std::string cleaned = std::regex_replace(text, annotations, "");
    cleaned = std::regex_replace(cleaned, notes, "");
    cleaned = std::regex_replace(cleaned, blanks, " ");
    while (!cleaned.empty() && isWhiteSpace(cleaned.back()))
        cleaned.pop_back();
    for (const char c : cleaned) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            byte >= 0x80)
            return cleaned;
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    const std::string cleaned = cleanTranscription(text);

    FUZZ_CHECK(cleaned.size() <= text.size());
    FUZZ_CHECK(cleaned.empty() || !isWhiteSpace(cleaned.back()));
    for (std::size_t i = 0; i < cleaned.size(); ++i) {
        FUZZ_CHECK(cleaned[i] == ' ' || !isWhiteSpace(cleaned[i]));
        FUZZ_CHECK(i == 0 || cleaned[i] != ' ' || cleaned[i - 1] != ' ');
    }
    if (size <= kLongestCompared)
        FUZZ_CHECK(cleaned == reference(text));
    return 0;
}
