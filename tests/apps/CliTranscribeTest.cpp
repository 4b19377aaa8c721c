// Whole transcriptions with the weight-less test model: the text is noise, so
// these check the windows — one line per window, contiguous, covering each
// file — at different rates, channel counts and feeding modes.

#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "CliTestSupport.h"

namespace corvane::test {
namespace {

class CliTranscribe : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<TemporaryFolder>();
        const std::string espeak = findTool("espeak-ng");
        if (espeak.empty())
            return;
        // About 3 s of speech, the same on every run: espeak-ng is
        // deterministic and writes 22.05 kHz mono.
        const ProgramRun run = runProgram(
            {espeak, "-w", folder->file("speech.wav"), "Testing the command line host, one two three."}, 60);
        if (run.exited && run.exitCode == 0)
            speech = folder->file("speech.wav");
    }
    static void TearDownTestSuite() { folder.reset(); }

    void SetUp() override
    {
        if (speech.empty())
            GTEST_SKIP() << "espeak-ng is not installed; cannot make speech to transcribe";
    }

    static std::unique_ptr<TemporaryFolder> folder;
    static std::string speech;
};

std::unique_ptr<TemporaryFolder> CliTranscribe::folder;
std::string CliTranscribe::speech;

TEST_F(CliTranscribe, OneNodeTranscribesFilesOfDifferentRatesAndChannelCounts)
{
    std::vector<std::string> files{speech};
    const std::string stereo = folder->file("speech-44k-stereo.wav");
    if (convertWithSox(speech, stereo, {"-r", "44100", "-c", "2"}))
        files.push_back(stereo);
    else
        std::cout << "[ note ] sox is not installed; only the 22.05 kHz mono file is transcribed\n";

    std::vector<std::string> arguments{"--json", "--step", "2"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const ProgramRun run = transcribeWithTestModel(arguments);
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.describe();

    const std::vector<WindowLine> lines = parseWindowLines(run.out);
    for (const std::string& file : files)
        expectWindowsCoverFile(lines, file);
    // 2 s steps over about 3 s: a full window and the rest, per file.
    EXPECT_EQ(lines.size(), 2 * files.size()) << run.out;
    EXPECT_NE(run.err.find("real-time factor"), std::string::npos) << run.err;
}

TEST_F(CliTranscribe, RealTimeFeedingStillCoversTheFileWithContiguousWindows)
{
    // Steps come faster than the model answers, so some are merged.
    const ProgramRun run = transcribeWithTestModel({"--json", "--realtime", "--quiet", "--step", "0.5", speech});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.describe();
    expectWindowsCoverFile(parseWindowLines(run.out), speech);
    EXPECT_EQ(run.err, "");
}

TEST(CliTranscribeShared, JfkAt44kStereoIsCoveredInTwoSecondWindows)
{
    const std::string jfk = std::string(CORVANE_SHARED_DIR) + "/audio/jfk.wav";
    if (!std::filesystem::exists(jfk))
        GTEST_SKIP() << jfk << " is absent (the shared folder beside the checkout)";
    TemporaryFolder folder;
    const std::string converted = folder.file("jfk-44k-stereo.wav");
    if (!convertWithSox(jfk, converted, {"-r", "44100", "-c", "2"}))
        GTEST_SKIP() << "sox is not installed";

    const ProgramRun run = transcribeWithTestModel({"--json", "--step", "2", converted});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.describe();
    const std::vector<WindowLine> lines = parseWindowLines(run.out);
    expectWindowsCoverFile(lines, converted);
    EXPECT_EQ(lines.size(), 6u) << run.out; // 11 s
}

TEST(CliTranscribeDefault, WithoutFilesItTranscribesWhisperCppsSample)
{
    const std::string sample = std::string(CORVANE_SOURCE_DIR) + "/third_party/whisper.cpp/samples/jfk.mp3";
    if (!std::filesystem::exists(sample))
        GTEST_SKIP() << sample << " is absent; scripts/fetch-whisper provides it";

    const ProgramRun run = transcribeWithTestModel({"--step", "30"});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.describe();
    const std::regex textLine(R"(\[\d\d:\d\d\.\d{3} --> \d\d:\d\d\.\d{3}\]  .*)");
    std::istringstream out(run.out);
    std::string line;
    int count = 0;
    while (std::getline(out, line)) {
        EXPECT_TRUE(std::regex_match(line, textLine)) << line;
        ++count;
    }
    EXPECT_EQ(count, 1) << run.out; // one window: the sample is shorter than the step
    EXPECT_EQ(run.out.rfind("[00:00.000 --> 00:11.", 0), 0u) << run.out;
}

} // namespace
} // namespace corvane::test
