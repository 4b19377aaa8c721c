// With real weights the words come out: needs ../shared/models/ggml-tiny.en.bin.

#include <algorithm>
#include <cctype>
#include <filesystem>

#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "TestModels.h"

namespace corvane::test {
namespace {

/// Lower case, letters and single spaces only.
std::string normalised(const std::string& text)
{
    std::string result;
    for (const char c : text) {
        if (std::isalpha(static_cast<unsigned char>(c)))
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!result.empty() && result.back() != ' ')
            result += ' ';
    }
    return result;
}

TEST(CliRealModel, JfkSaysAskNotWhatYourCountryCanDoForYou)
{
    const std::string model = realTinyModel();
    const std::string jfk = sharedFile("audio/jfk.wav");
    if (model.empty() || jfk.empty())
        GTEST_SKIP() << "needs models/ggml-tiny.en.bin and audio/jfk.wav in " << CORVANE_SHARED_DIR;

    const ProgramRun run =
        runProgram({cliPath(), "transcribe", "--model", model, "--no-gpu", "--threads", "2", "--step", "30", jfk});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.describe();
    EXPECT_NE(normalised(run.out).find("ask not what your country can do for you"), std::string::npos) << run.out;
}

} // namespace
} // namespace corvane::test
