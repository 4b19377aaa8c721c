// Whole transcriptions with the weight-less test model. Its text is noise, so
// these check the windows: one line each, contiguous, covering every file.

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "TestModels.h"

namespace corvane::test {
namespace {

/// About 3 s of speech that the project makes itself, so that these run
/// without the shared folder: espeak-ng is deterministic and writes 22.05 kHz
/// mono. "" when espeak-ng is not installed.
const std::string& speech()
{
    static const std::string path = [] {
        const std::string file = temporaryFile("speech.wav");
        const std::vector<std::string> espeak{"espeak-ng", "-w", file, "Testing the command line host, one two three."};
        return runProgram(espeak, 60).succeeded() ? file : std::string();
    }();
    return path;
}

TEST(CliTranscribe, OneNodeTranscribesFilesOfDifferentRatesAndChannelCounts)
{
    if (speech().empty())
        GTEST_SKIP() << "espeak-ng is not installed; cannot make speech to transcribe";
    std::vector<std::string> files{speech()};
    if (convertTo44kStereo(speech(), temporaryFile("speech-44k-stereo.wav")))
        files.push_back(temporaryFile("speech-44k-stereo.wav"));
    else
        std::cout << "[ note ] sox is not installed; only the 22.05 kHz mono file is transcribed\n";

    std::vector<std::string> arguments{"--json", "--step", "2"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const ProgramRun run = transcribeWithTestModel(arguments);
    expectWindowsCoverFiles(run, files, 2); // a full 2 s window and the rest
    EXPECT_NE(run.err.find("real-time factor"), std::string::npos) << run.err;
}

TEST(CliTranscribe, RealTimeFeedingStillCoversTheFileWithContiguousWindows)
{
    if (speech().empty())
        GTEST_SKIP() << "espeak-ng is not installed; cannot make speech to transcribe";
    // Steps come faster than the model answers, so some are merged.
    const ProgramRun run = transcribeWithTestModel({"--json", "--realtime", "--quiet", "--step", "0.5", speech()});
    expectWindowsCoverFiles(run, {speech()});
    EXPECT_EQ(run.err, "");
}

TEST(CliTranscribe, JfkAt44kStereoIsCoveredInTwoSecondWindows)
{
    const std::string jfk = sharedFile("audio/jfk.wav");
    if (jfk.empty())
        GTEST_SKIP() << "audio/jfk.wav is absent from " << CORVANE_SHARED_DIR;
    const std::string converted = temporaryFile("jfk-44k-stereo.wav");
    if (!convertTo44kStereo(jfk, converted))
        GTEST_SKIP() << "sox is not installed";
    expectWindowsCoverFiles(transcribeWithTestModel({"--json", "--step", "2", converted}), {converted}, 6); // 11 s
}

TEST(CliTranscribe, WithoutFilesItTranscribesWhisperCppsSample)
{
    const std::string sample = std::string(CORVANE_SOURCE_DIR) + "/third_party/whisper.cpp/samples/jfk.mp3";
    if (!std::filesystem::exists(sample))
        GTEST_SKIP() << sample << " is absent; scripts/fetch-whisper provides it";

    // The sample is shorter than the step: one window, as a text line.
    const ProgramRun run = transcribeWithTestModel({"--step", "30"});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    EXPECT_TRUE(std::regex_match(run.out, std::regex(R"(\[00:00\.000 --> 00:11\.\d{3}\]  [^\n]*\n)"))) << run.out;
}

} // namespace
} // namespace corvane::test
