#include "TranscriptCleanup.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

using corvane::extensions::whisper::cleanTranscription;

namespace {

// The clean-up written with std::regex: the definition the scanner must match
// byte for byte. Only usable on short texts (its matcher recurses per byte).
std::string cleanWithRegex(const std::string& text)
{
    static const std::regex annotation(R"(\[[^\]]*\]|\([^)]*\)|\*[^*]*\*)", std::regex::ECMAScript);
    static const std::regex music("\u2669|\u266A|\u266B|\u266C", std::regex::ECMAScript);
    static const std::regex whiteSpace(R"(\s+)", std::regex::ECMAScript);

    std::string s = std::regex_replace(text, annotation, "");
    s = std::regex_replace(s, music, "");
    s = std::regex_replace(s, whiteSpace, " ");
    const auto end = s.find_last_not_of(" \t\n\v\f\r");
    s.erase(end == std::string::npos ? 0 : end + 1);
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b >= 0x80)
            return s;
    }
    return {};
}

} // namespace

TEST(CleanTranscription, DropsAnnotationsAndKeepsSpeech)
{
    const std::vector<std::pair<std::string, std::string>> cases {
        { "[BLANK_AUDIO]", "" },
        { "Hello (laughs) world", "Hello world" },
        { "a *sigh* b", "a b" },
        { "...", "" },
        { " Привет, мир", " Привет, мир" },
        { "\u266A la la \u266A", " la la" },
        { "keep [open bracket", "keep [open bracket" },
        { "[outer [inner] rest] end", " rest] end" },
        { "(a [b) c]", " c]" },
        { "one * two", "one * two" },
        { "\t\n lead", " lead" },
        { "trail \t\n\r\v\f", "trail" },
        { " And then [music" " continues] she said", " And then she said" }, // segments are joined first
        { "", "" },
        { "7", "7" },
        { "\xE2\x99", "\xE2\x99" },        // a cut-off note is not a note
        { "\xE2[x]\x99\xAA ok", " ok" },    // removing the annotation completes a note
        { "\xFF\xFE", "\xFF\xFE" },         // invalid UTF-8 counts as text
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(cleanTranscription(input), expected) << "input: " << input;
        EXPECT_EQ(cleanWithRegex(input), expected) << "oracle disagrees with the example: " << input;
    }
}

TEST(CleanTranscription, MatchesTheRegexDefinitionOnRandomTexts)
{
    const std::vector<std::string> pieces {
        "a", "Z", "5", "x", " ", "  ", "\t", "\n", "\v", "\f", "\r", "[", "]", "(", ")", "*", ".", ",",
        "\u2669", "\u266A", "\u266B", "\u266C", "\u266D", "\xE2", "\x99", "\xA9", "\xAA", "\xAC",
        "\xE2\x99", "\xC3\xA9", "\xFF", std::string(1, '\0'), "\x80", "\xA0", "\x85",
    };
    std::mt19937 random(99);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 24);
    for (int trial = 0; trial < 30000; ++trial) {
        std::string text;
        for (int n = length(random); n > 0; --n)
            text += pieces[pick(random)];
        ASSERT_EQ(cleanTranscription(text), cleanWithRegex(text)) << "input bytes: " << ::testing::PrintToString(text);
    }
}

// Lengths far past the point where std::regex overflows an 8 MiB stack (about
// 26 thousand bytes in one match or run of white space).
TEST(CleanTranscription, SurvivesHostileLongTexts)
{
    constexpr std::size_t megabyte = 1 << 20;

    EXPECT_EQ(cleanTranscription("[" + std::string(megabyte, 'a') + "]"), "");
    EXPECT_EQ(cleanTranscription("[" + std::string(megabyte, 'a')), "[" + std::string(megabyte, 'a'));
    EXPECT_EQ(cleanTranscription("*" + std::string(megabyte, 'x') + "*ok"), "ok");
    EXPECT_EQ(cleanTranscription("a" + std::string(megabyte, ' ') + "b" + std::string(megabyte, '\n')), "a b");
    EXPECT_EQ(cleanTranscription(std::string(megabyte, '[')), "");  // quadratic if each opener searched
    EXPECT_EQ(cleanTranscription(std::string(megabyte, '(') + "x"), std::string(megabyte, '(') + "x");

    std::string notes;
    for (std::size_t i = 0; i < megabyte / 3; ++i)
        notes += "\u266A";
    EXPECT_EQ(cleanTranscription(notes + " end"), " end");

    std::mt19937 random(5);
    std::string bytes(megabyte, '\0');
    for (auto& c : bytes)
        c = static_cast<char>(random());
    const std::string cleaned = cleanTranscription(bytes);
    EXPECT_TRUE(!cleaned.empty() && cleaned.back() != ' ');
    EXPECT_EQ(cleaned.find_first_of("\t\n\v\f\r"), std::string::npos);
    EXPECT_EQ(cleaned.find("  "), std::string::npos);
}
