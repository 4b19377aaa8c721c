#pragma once

#include <string>
#include <vector>

#include <corvane/core/CVAny.h>
#include <corvane/core/Logger.h>

namespace corvane::cli {

/// Everything the command line asked for.
struct CommandLineOptions {
    enum class Command { Describe, Transcribe, ImportModel };

    Command command = Command::Transcribe;

    // Both commands.
    LogLevel logLevel = LogLevel::Warning;
    std::string extensionPath; ///< Empty: defaultExtensionPath().

    // transcribe
    std::vector<std::string> files; ///< Empty: the speech sample shipped with whisper.cpp.
    /// Only the keys the user set, so the node's own defaults apply otherwise.
    CVAnyMap nodeConfiguration;
    double stepSeconds = 5.0;
    double timeoutSeconds = 120.0;
    bool json = false;
    bool realtime = false;
    bool quiet = false;

    // import-model
    std::string importSource;        ///< A CTranslate2 Whisper model folder.
    std::string importOutput;        ///< The ggml file to write.
    std::string importType = "f16";  ///< Storage of the weight matrices.

    /// What the node is created with: the keys the user set, plus this
    /// program's own defaults ("flashAttention" on).
    CVAnyMap configurationForNode() const;

    /// The --model path, or "" when the node picks its default model.
    std::string modelPath() const;
};

/// The outcome of reading the command line.
struct ParsedCommandLine {
    enum class Outcome {
        Run,        ///< options holds the command to run.
        ShowHelp,   ///< text holds the help to print; exit successfully.
        UsageError, ///< text holds what is wrong; exit with kExitUsage.
    };

    Outcome outcome = Outcome::Run;
    std::string text;
    CommandLineOptions options;
};

/// Reads argv with CLI11. Never exits the process and never prints: the
/// caller decides what to do with help and errors.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

} // namespace corvane::cli
