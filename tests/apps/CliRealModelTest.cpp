// With real weights the words come out: needs ../shared/models/ggml-tiny.en.bin.

#include <cctype>

#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "TestModels.h"

namespace corvane::test {
namespace {

TEST(CliRealModel, JfkSaysAskNotWhatYourCountryCanDoForYou)
{
    const std::string model = realTinyModel();
    const std::string jfk = sharedFile("audio/jfk.wav");
    if (model.empty() || jfk.empty())
        GTEST_SKIP() << "needs models/ggml-tiny.en.bin and audio/jfk.wav in " << CORVANE_SHARED_DIR;

    const ProgramRun run = runCli({"transcribe", "--model", model, "--no-gpu", "--threads", "2", "--step", "30", jfk});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    std::string words; // lower case, single spaces, no punctuation
    for (const unsigned char c : run.out) {
        if (std::isalpha(c))
            words += static_cast<char>(std::tolower(c));
        else if (!words.empty() && words.back() != ' ')
            words += ' ';
    }
    EXPECT_NE(words.find("ask not what your country can do for you"), std::string::npos) << run.out;
}

} // namespace
} // namespace corvane::test
