#pragma once

#include <string>
#include <vector>

#include <corvane/core/CVAny.h>
#include <corvane/core/Logger.h>

namespace corvane::cli {

/// Everything the command line asked for.
struct CommandLineOptions {
    enum class Command { Describe, Transcribe, Listen, ImportModel };

    Command command = Command::Transcribe;

    // Both commands.
    LogLevel logLevel = LogLevel::Warning;
    std::string extensionPath; ///< Empty: defaultExtensionPath().

    // transcribe and listen
    /// Only the keys the user set, so the node's own defaults apply otherwise.
    CVAnyMap nodeConfiguration;
    double maxWindowSeconds = 0.0; ///< The longest window when windows end in pauses (0: the command's own).
    int pauseMs = 300;              ///< The pause that ends an utterance.
    double timeoutSeconds = 120.0;
    bool json = false;
    /// Interim text of the utterance under way: listen's default, transcribe
    /// only when asked; shown on a terminal or with --json.
    bool partials = false;
    bool quiet = false;

    // transcribe
    std::vector<std::string> files; ///< Empty: the speech sample shipped with whisper.cpp.
    double stepSeconds = 0.0; ///< Fixed windows of this length; 0: windows end in pauses.
    bool realtime = false;
    std::vector<std::string> outputFormats; ///< --output-format: txt, srt, vtt, json, tsv
    std::string outputDirectory;            ///< Empty: the first format to stdout.
    int maxLineLength = 0;                  ///< 0: a cue per segment.

    // listen
    std::string device; ///< Empty: the default capture device.
    bool listDevices = false;

    // import-model
    std::string importSource;        ///< A CTranslate2 Whisper model folder.
    std::string importOutput;        ///< The ggml file to write.
    std::string importType = "f16";  ///< Storage of the weight matrices.

    /// What the node is created with: the keys the user set, plus this
    /// program's own defaults ("flashAttention" on, and "wordTimestamps" for
    /// --max-line-length, which cuts cues at words).
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
