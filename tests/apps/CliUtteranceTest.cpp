// Windows that end in pauses, from a file and from a capture device, with
// real weights: needs ../shared/models/ggml-tiny.en.bin and audio/jfk.wav.

#include <cctype>
#include <cstdlib>

#include <gtest/gtest.h>

#include "ProgramRun.h"
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
    const std::string twice = temporaryFile("jfk-twice.wav"); // jfk, 1 s of silence, jfk, 1 s of silence
    if (model.empty() || jfk.empty() || !runProgram({"sox", jfk, twice, "pad", "0", "1", "repeat", "1"}).succeeded())
        GTEST_SKIP() << "needs sox, and models/ggml-tiny.en.bin and audio/jfk.wav in " << CORVANE_SHARED_DIR;

    const ProgramRun run = runCli({"transcribe", "--model", model, "--no-gpu", "--threads", "2", twice});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    EXPECT_EQ(wordsOf(run.out), kJfk + kJfk) << run.out;
}

/// corvane-whisper listen with SDL's disk driver playing `raw` as the
/// microphone, stopped by SIGINT after `seconds`. The driver cannot tell its
/// rate, so listen asks for 16 kHz, and the file is 32-bit float mono at that.
ProgramRun listenTo(const std::string& raw, std::vector<std::string> arguments, int seconds)
{
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILEIN", raw.c_str(), 1);
    arguments.insert(arguments.begin(), {"timeout", "--preserve-status", "-s", "INT", std::to_string(seconds),
                                         std::string(CORVANE_BINARY_DIR) + "/corvane-whisper", "listen"});
    return runProgram(arguments);
}

TEST(CliListen, JfkAsTheMicrophoneGivesTheSentenceAndSigintEndsItCleanly)
{
    const std::string model = realTinyModel();
    const std::string jfk = sharedFile("audio/jfk.wav");
    const std::string raw = temporaryFile("jfk.raw");
    if (model.empty() || jfk.empty() || !runProgram({"sox", jfk, "-t", "f32", "-r", "16000", "-c", "1", raw}).succeeded())
        GTEST_SKIP() << "needs sox, and models/ggml-tiny.en.bin and audio/jfk.wav in " << CORVANE_SHARED_DIR;
    // Stopped 6 s in, in the middle of the first sentence (7.8 s long): what
    // was heard of it is transcribed, before listen exits 0.
    const ProgramRun run = listenTo(raw, {"--model", model, "--no-gpu", "--threads", "2"}, 6);
    ASSERT_TRUE(run.succeeded()) << run.describe();
    EXPECT_EQ(wordsOf(run.out).rfind("and so my fellow", 0), 0u) << run.out;
    EXPECT_LT(wordsOf(run.out).size(), kJfk.size()) << "more than was heard: " << run.out;
}

TEST(CliListen, NoDeviceOrAFailingOneIsOneErrorLine)
{
    ::unsetenv("SDL_AUDIODRIVER"); // whatever this machine has, it has no such device
    const ProgramRun missing = runCli({"listen", "--device", "no such microphone"});
    const ProgramRun failing = listenTo("/nonexistent/microphone.raw", {}, 60);
    for (const ProgramRun& run : {missing, failing}) {
        EXPECT_EQ(run.exitCode, 1) << run.describe();
        EXPECT_EQ(run.err.rfind("corvane-whisper: error: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

} // namespace
} // namespace corvane::test
