// Windows that end in pauses, with real weights: needs
// ../shared/models/ggml-tiny.en.bin and audio/jfk.wav.

#include <cctype>

#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "TestModels.h"

namespace corvane::test {
namespace {

const std::string kJfk = "and so my fellow americans ask not what your country can do for you ask what you can do "
                         "for your country ";

/// Lower-case words, each followed by one space.
std::string wordsOf(const std::string& text)
{
    std::string words;
    for (const unsigned char c : text) {
        if (std::isalpha(c))
            words += static_cast<char>(std::tolower(c));
        else if (!words.empty() && words.back() != ' ' && c != '\'')
            words += ' ';
    }
    return words;
}

TEST(CliUtterances, JfkTwiceWithPausesComesOutWithNoWordCutInTwo)
{
    const std::string model = realTinyModel();
    const std::string jfk = sharedFile("audio/jfk.wav");
    if (model.empty() || jfk.empty())
        GTEST_SKIP() << "needs models/ggml-tiny.en.bin and audio/jfk.wav in " << CORVANE_SHARED_DIR;
    const std::string twice = temporaryFile("jfk-twice.wav"); // jfk, 1 s of silence, jfk, 1 s of silence
    if (!runProgram({"sox", jfk, twice, "pad", "0", "1", "repeat", "1"}, 60).succeeded())
        GTEST_SKIP() << "sox is not installed";

    const ProgramRun run = runCli({"transcribe", "--model", model, "--no-gpu", "--threads", "2", twice});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    EXPECT_EQ(wordsOf(run.out), kJfk + kJfk) << run.out;
}

} // namespace
} // namespace corvane::test
