// What the command line turns into: the node configuration holds exactly the
// keys the user set, with the node's types, and bad values are usage errors.

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "CommandLineOptions.h"

namespace corvane::cli {
namespace {

ParsedCommandLine parse(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "corvane-whisper");
    return parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLineOptions, EveryNodeFlagSetsItsKeyWithTheNodesType)
{
    const ParsedCommandLine parsed =
        parse({"transcribe", "--model", "/m.bin", "--no-gpu", "--threads", "3", "--reserved-cores", "1",
               "--grammar", "yes, no", "--vad", "--single-segment", "--max-tokens", "12", "--no-speech-threshold",
               "0.4", "--logprob-threshold", "-1.5", "--keep-annotations", "--no-suppress-nst"});
    ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::Run) << parsed.text;
    const CVAnyMap expected{
        {"modelPath", "/m.bin"},  {"useGPU", false},         {"numberOfThreads", 3},
        {"reservedCoresForAudio", 1}, {"grammar", "yes, no"}, {"vad", true},
        {"singleSegment", true},  {"maxTokens", 12},         {"noSpeechThreshold", 0.4},
        {"logProbThreshold", -1.5}, {"suppressNonSpeechAnnotations", false}, {"suppressNonSpeechTokens", false},
    };
    EXPECT_EQ(parsed.options.nodeConfiguration, expected);
}

TEST(CommandLineOptions, ApplicationOptionsGoBeforeOrAfterTheCommand)
{
    const ParsedCommandLine before = parse({"--log-level", "debug", "--extension", "/x.so", "describe"});
    ASSERT_EQ(before.outcome, ParsedCommandLine::Outcome::Run) << before.text;
    EXPECT_EQ(before.options.command, CommandLineOptions::Command::Describe);
    EXPECT_EQ(before.options.logLevel, LogLevel::Debug);
    EXPECT_EQ(before.options.extensionPath, "/x.so");

    const ParsedCommandLine after = parse({"transcribe", "--log-level", "ERROR", "--json", "--step", "30", "a", "b"});
    ASSERT_EQ(after.outcome, ParsedCommandLine::Outcome::Run) << after.text;
    EXPECT_EQ(after.options.logLevel, LogLevel::Error);
    EXPECT_TRUE(after.options.json);
    EXPECT_EQ(after.options.stepSeconds, 30.0); // all the node keeps, and no more
    EXPECT_EQ(after.options.files, (std::vector<std::string>{"a", "b"}));
    // Without node flags the node keeps its own defaults.
    EXPECT_TRUE(after.options.nodeConfiguration.empty());
}

TEST(CommandLineOptions, BadValuesAreUsageErrorsThatNameTheCulpritAndHelpIsNot)
{
    using Outcome = ParsedCommandLine::Outcome;
    const std::vector<std::tuple<std::vector<const char*>, Outcome, std::string>> cases{
        {{"transcribe", "--help"}, Outcome::ShowHelp, "--realtime"},
        {{"transcribe", "--step", "0"}, Outcome::UsageError, "--step"},
        {{"transcribe", "--step", "30.5"}, Outcome::UsageError, "--step"},
        {{"transcribe", "--step", "nan"}, Outcome::UsageError, "--step"},
        {{"transcribe", "--threads", "abc"}, Outcome::UsageError, "--threads"},
        {{"transcribe", "--threads", "0"}, Outcome::UsageError, "--threads"},
        {{"transcribe", "--max-tokens", "-1"}, Outcome::UsageError, "--max-tokens"},
        {{"transcribe", "--timeout", "0"}, Outcome::UsageError, "--timeout"},
        {{"transcribe", "--no-speech-threshold", "inf"}, Outcome::UsageError, "--no-speech-threshold"},
        {{"--log-level", "loud", "describe"}, Outcome::UsageError, "--log-level"},
        {{"transcribe", "--colour"}, Outcome::UsageError, "--colour"},
        {{}, Outcome::UsageError, "subcommand"},
    };
    for (const auto& [arguments, outcome, mentioned] : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const ParsedCommandLine parsed = parse(arguments);
        EXPECT_EQ(parsed.outcome, outcome);
        EXPECT_NE(parsed.text.find(mentioned), std::string::npos) << parsed.text;
    }
}

} // namespace
} // namespace corvane::cli
