// What the command line turns into: the node configuration holds exactly the
// keys the user set, with the node's types, and bad values are usage errors.

#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandLineOptions.h"

namespace corvane::cli {
namespace {

ParsedCommandLine parse(std::initializer_list<const char*> arguments)
{
    std::vector<const char*> argv{"corvane-whisper"};
    argv.insert(argv.end(), arguments);
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineOptions, WithoutFlagsTheNodeKeepsItsDefaults)
{
    const ParsedCommandLine parsed = parse({"transcribe", "a.wav", "b.flac"});
    ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::Run) << parsed.text;
    const CommandLineOptions& options = parsed.options;
    EXPECT_EQ(options.command, CommandLineOptions::Command::Transcribe);
    EXPECT_EQ(options.files, (std::vector<std::string>{"a.wav", "b.flac"}));
    EXPECT_TRUE(options.nodeConfiguration.empty());
    EXPECT_EQ(options.stepSeconds, 5.0);
    EXPECT_EQ(options.timeoutSeconds, 120.0);
    EXPECT_EQ(options.logLevel, LogLevel::Warning);
    EXPECT_FALSE(options.json || options.realtime || options.quiet);
    EXPECT_EQ(options.modelPath(), "");
}

TEST(CommandLineOptions, EveryNodeFlagSetsItsKeyWithTheNodesType)
{
    const ParsedCommandLine parsed =
        parse({"transcribe", "--model", "/m.bin", "--no-gpu", "--threads", "3", "--reserved-cores", "1",
               "--grammar", "yes, no", "--vad", "--single-segment", "--max-tokens", "12", "--no-speech-threshold",
               "0.4", "--logprob-threshold", "-1.5", "--keep-annotations", "--no-suppress-nst"});
    ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::Run) << parsed.text;

    const CVAnyMap expected{
        {"modelPath", "/m.bin"},
        {"useGPU", false},
        {"numberOfThreads", 3},
        {"reservedCoresForAudio", 1},
        {"grammar", "yes, no"},
        {"vad", true},
        {"singleSegment", true},
        {"maxTokens", 12},
        {"noSpeechThreshold", 0.4},
        {"logProbThreshold", -1.5},
        {"suppressNonSpeechAnnotations", false},
        {"suppressNonSpeechTokens", false},
    };
    EXPECT_EQ(parsed.options.nodeConfiguration, expected);
    EXPECT_EQ(parsed.options.modelPath(), "/m.bin");
}

TEST(CommandLineOptions, ApplicationOptionsGoBeforeOrAfterTheCommand)
{
    const ParsedCommandLine before = parse({"--log-level", "debug", "--extension", "/x.so", "describe"});
    ASSERT_EQ(before.outcome, ParsedCommandLine::Outcome::Run) << before.text;
    EXPECT_EQ(before.options.command, CommandLineOptions::Command::Describe);
    EXPECT_EQ(before.options.logLevel, LogLevel::Debug);
    EXPECT_EQ(before.options.extensionPath, "/x.so");

    const ParsedCommandLine after = parse({"transcribe", "--log-level", "ERROR", "--json", "--step", "0.5"});
    ASSERT_EQ(after.outcome, ParsedCommandLine::Outcome::Run) << after.text;
    EXPECT_EQ(after.options.logLevel, LogLevel::Error);
    EXPECT_TRUE(after.options.json);
    EXPECT_EQ(after.options.stepSeconds, 0.5);
}

TEST(CommandLineOptions, HelpIsNotAnError)
{
    const ParsedCommandLine parsed = parse({"transcribe", "--help"});
    EXPECT_EQ(parsed.outcome, ParsedCommandLine::Outcome::ShowHelp);
    EXPECT_NE(parsed.text.find("--realtime"), std::string::npos);
}

struct BadCommandLine {
    const char* name;
    std::vector<const char*> arguments;
    const char* named; ///< What the message must mention.
};

class RejectedCommandLine : public ::testing::TestWithParam<BadCommandLine> {};

TEST_P(RejectedCommandLine, IsAUsageErrorThatNamesTheCulprit)
{
    const BadCommandLine& bad = GetParam();
    std::vector<const char*> argv{"corvane-whisper"};
    argv.insert(argv.end(), bad.arguments.begin(), bad.arguments.end());
    const ParsedCommandLine parsed = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(parsed.outcome, ParsedCommandLine::Outcome::UsageError);
    EXPECT_NE(parsed.text.find(bad.named), std::string::npos) << parsed.text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, RejectedCommandLine,
    ::testing::Values(BadCommandLine{"StepZero", {"transcribe", "--step", "0"}, "--step"},
                      BadCommandLine{"StepNegative", {"transcribe", "--step", "-2"}, "--step"},
                      BadCommandLine{"StepBeyondWhatTheNodeKeeps", {"transcribe", "--step", "31"}, "--step"},
                      BadCommandLine{"StepNotANumber", {"transcribe", "--step", "nan"}, "--step"},
                      BadCommandLine{"ThreadsNotANumber", {"transcribe", "--threads", "abc"}, "--threads"},
                      BadCommandLine{"ThreadsZero", {"transcribe", "--threads", "0"}, "--threads"},
                      BadCommandLine{"MaxTokensNegative", {"transcribe", "--max-tokens", "-1"}, "--max-tokens"},
                      BadCommandLine{"TimeoutZero", {"transcribe", "--timeout", "0"}, "--timeout"},
                      BadCommandLine{"ThresholdNotANumber", {"transcribe", "--no-speech-threshold", "x"},
                                     "--no-speech-threshold"},
                      BadCommandLine{"UnknownLogLevel", {"--log-level", "loud", "describe"}, "--log-level"},
                      BadCommandLine{"UnknownFlag", {"transcribe", "--colour"}, "--colour"},
                      BadCommandLine{"NoCommand", {}, "subcommand"}),
    [](const ::testing::TestParamInfo<BadCommandLine>& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane::cli
