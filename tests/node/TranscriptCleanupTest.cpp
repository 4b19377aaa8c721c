#include "TranscriptCleanup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using corvane::extensions::whisper::cleanTranscription;

// fuzz/ checks the scanner against the std::regex definition on random texts.
TEST(CleanTranscription, DropsAnnotationsAndKeepsSpeech)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"[BLANK_AUDIO]", ""}, {"Hello (laughs) world", "Hello world"}, {"a *sigh* b", "a b"}, {"...", ""},
        {" Привет, мир", " Привет, мир"}, {"\u266A la la \u266C", " la la"}, {"keep [open bracket", "keep [open bracket"},
        {"[outer [inner] rest] end", " rest] end"}, {"\t\n lead", " lead"}, {"trail \t\n\r\v\f", "trail"},
        {"\xE2[x]\x99\xAA ok", " ok"}, // removing the annotation completes a note
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(cleanTranscription(input), expected) << "input: " << input;
}

// Far past where std::regex overflows an 8 MiB stack (about 26k bytes).
TEST(CleanTranscription, SurvivesHostileLongTexts)
{
    constexpr std::size_t megabyte = 1 << 20;
    EXPECT_EQ(cleanTranscription("[" + std::string(megabyte, 'a') + "]"), "");
    EXPECT_EQ(cleanTranscription("a" + std::string(megabyte, ' ') + "b" + std::string(megabyte, '\n')), "a b");
    EXPECT_EQ(cleanTranscription(std::string(megabyte, '[')), ""); // quadratic if each opener searched
    EXPECT_EQ(cleanTranscription(std::string(megabyte, '(') + "x"), std::string(megabyte, '(') + "x");
}
