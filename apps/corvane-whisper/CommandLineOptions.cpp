#include "CommandLineOptions.h"

#include <cmath>
#include <string>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "ImportModelOptions.h"
#include "WhisperNodeFacts.h"

namespace corvane::cli {

namespace {

/// The node keeps 30 s of audio; a longer step would lose the start of every
/// window.
constexpr double kLongestStepSeconds = kNodeHistorySeconds;
/// A maximum window of a second or less would cut words wherever they fall.
constexpr double kShortestMaxWindowSeconds = 1.0;
/// The longest window without a pause: live, text should not wait longer;
/// on a file, utterances that queue up are joined up to it, and fewer,
/// longer runs cost less (read speech and a mixed file: 20 s took 5 runs,
/// 25 s 4 runs and three quarters of the time, at the same error rate).
constexpr double kLiveMaxWindowSeconds = 20.0;
constexpr double kFileMaxWindowSeconds = 25.0;

/// A number in (lowest, highest]; unit only words the message.
CLI::Validator numberAbove(double lowest, double highest, const std::string& unit, const std::string& description)
{
    return CLI::Validator(
        [lowest, highest, unit](std::string& text) -> std::string {
            double value = 0.0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value))
                return "'" + text + "' is not a number";
            if (value <= lowest || value > highest) {
                std::string range = "must be greater than " + CLI::detail::to_string(lowest);
                if (std::isfinite(highest))
                    range += " and at most " + CLI::detail::to_string(highest);
                return "'" + text + "' " + range + (unit.empty() ? "" : " " + unit);
            }
            return {};
        },
        description, "");
}

CLI::Validator integerAtLeast(long long lowest)
{
    return CLI::Validator(
        [lowest](std::string& text) -> std::string {
            long long value = 0;
            if (!CLI::detail::lexical_cast(text, value))
                return "'" + text + "' is not a whole number";
            if (value < lowest)
                return "'" + text + "' must be at least " + std::to_string(lowest);
            return {};
        },
        "INTEGER >= " + std::to_string(lowest), "");
}

CLI::Validator finiteNumber()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0.0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value))
                return "'" + text + "' is not a number";
            return {};
        },
        "NUMBER", "");
}

/// The values of the node's configuration flags before we know which of them
/// were given.
struct NodeFlags {
    std::string modelPath;
    bool noGPU = false;
    int threads = 0;
    int reservedCores = 0;
    std::string grammar;
    bool vad = false;
    bool singleSegment = false;
    int maxTokens = 0;
    double noSpeechThreshold = 0.0;
    double logProbThreshold = 0.0;
    bool keepAnnotations = false;
    bool noSuppressNonSpeechTokens = false;
    bool noFlashAttention = false;
    std::string language;
    bool translate = false;
    bool wordTimestamps = false;
    int partialIntervalMs = 0;
};

/// The node's configuration flags, which every command that makes a node takes.
void addNodeFlags(CLI::App& command, NodeFlags& node)
{
    command.add_option("--model", node.modelPath, "Whisper model file (ggml format)");
    command.add_flag("--no-gpu", node.noGPU, "Run whisper.cpp on the CPU only");
    command.add_option("--threads", node.threads, "Threads whisper.cpp uses")->check(integerAtLeast(1));
    command.add_option("--reserved-cores", node.reservedCores, "Cores to keep free for audio")
        ->check(integerAtLeast(0));
    command.add_option("--grammar", node.grammar,
                       "Comma-separated phrases to restrict recognition to, e.g. \"yes, no\"");
    command.add_flag("--vad", node.vad, "Voice-activity detection (needs the Silero model)");
    command.add_flag("--single-segment", node.singleSegment, "One segment per window");
    command.add_option("--max-tokens", node.maxTokens, "Tokens per segment, 0 = no limit")->check(integerAtLeast(0));
    command.add_option("--no-speech-threshold", node.noSpeechThreshold, "whisper.cpp's no-speech threshold")
        ->check(finiteNumber());
    command.add_option("--logprob-threshold", node.logProbThreshold, "whisper.cpp's log-probability threshold")
        ->check(finiteNumber());
    command.add_flag("--keep-annotations", node.keepAnnotations,
                     "Keep annotations such as [Music] or (laughs) in the text");
    command.add_flag("--no-suppress-nst", node.noSuppressNonSpeechTokens,
                     "Let whisper.cpp produce non-speech and blank tokens");
    command.add_flag("--no-flash-attention", node.noFlashAttention,
                     "Run whisper.cpp without flash attention (slower on CPU)");
    command.add_option("--language", node.language,
                       "Spoken language, an ISO 639-1 code such as de, or auto to detect it (default: en)");
    command.add_flag("--translate", node.translate, "Translate the speech into English (multilingual models)");
    command.add_flag("--word-timestamps", node.wordTimestamps, "Give every segment its words and their times");
    command.add_option("--partial-interval", node.partialIntervalMs,
                       "Milliseconds between interim runs of the utterance under way (default: 1000)")
        ->check(CLI::Range(100, 10000));
}

/// Only the flags given on the command line become configuration keys.
void applyNodeFlags(const CLI::App& command, const NodeFlags& node, CVAnyMap& config)
{
    const auto given = [&command](const char* flag) { return command.count(flag) > 0; };
    if (given("--model"))
        config.set("modelPath", node.modelPath);
    if (given("--no-gpu"))
        config.set("useGPU", !node.noGPU);
    if (given("--threads"))
        config.set("numberOfThreads", node.threads);
    if (given("--reserved-cores"))
        config.set("reservedCoresForAudio", node.reservedCores);
    if (given("--grammar"))
        config.set("grammar", node.grammar);
    if (given("--vad"))
        config.set("vad", node.vad);
    if (given("--single-segment"))
        config.set("singleSegment", node.singleSegment);
    if (given("--max-tokens"))
        config.set("maxTokens", node.maxTokens);
    if (given("--no-speech-threshold"))
        config.set("noSpeechThreshold", node.noSpeechThreshold);
    if (given("--logprob-threshold"))
        config.set("logProbThreshold", node.logProbThreshold);
    if (given("--keep-annotations"))
        config.set("suppressNonSpeechAnnotations", !node.keepAnnotations);
    if (given("--no-suppress-nst"))
        config.set("suppressNonSpeechTokens", !node.noSuppressNonSpeechTokens);
    if (given("--no-flash-attention"))
        config.set("flashAttention", !node.noFlashAttention);
    if (given("--language"))
        config.set("language", node.language);
    if (given("--translate"))
        config.set("translate", node.translate);
    if (given("--word-timestamps"))
        config.set("wordTimestamps", node.wordTimestamps);
    if (given("--partial-interval"))
        config.set("partialIntervalMs", node.partialIntervalMs);
}

} // namespace

std::string CommandLineOptions::modelPath() const
{
    return nodeConfiguration.hasKey("modelPath") ? nodeConfiguration.at("modelPath").asString() : std::string();
}

CVAnyMap CommandLineOptions::configurationForNode() const
{
    CVAnyMap config = nodeConfiguration;
    // Windows that end in pauses are the node's own, unless --step fixes them.
    if ((command == Command::Transcribe && stepSeconds <= 0.0) || command == Command::Listen) {
        config.set("autoTranscribe", true);
        const bool live = command == Command::Listen || realtime;
        config.set("maxUtteranceSeconds", maxWindowSeconds > 0.0 ? maxWindowSeconds
                                          : live                 ? kLiveMaxWindowSeconds
                                                                 : kFileMaxWindowSeconds);
        config.set("utterancePauseMs", pauseMs);
        // Interim runs cost CPU: only when someone will see them.
        config.set("partialResults", partials && (json || ::isatty(STDOUT_FILENO) == 1));
    }
    // The node keeps flash attention off for its existing hosts; on a CPU it
    // makes the encoder several times faster at the same accuracy.
    if (!config.hasKey("flashAttention"))
        config.set("flashAttention", true);
    if (maxLineLength > 0)
        config.set("wordTimestamps", true);
    return config;
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv)
{
    ParsedCommandLine parsed;
    CommandLineOptions& options = parsed.options;

    CLI::App app("Speech to text with the CorvaneWhisper extension, loaded the way a host loads it.",
                 "corvane-whisper");
    // Options of the application itself are also accepted after the command.
    app.fallthrough();
    app.require_subcommand(1);
    app.footer("Each command lists its own options: corvane-whisper transcribe --help");

    std::string logLevel = "warning";
    app.add_option("--log-level", logLevel, "Least important log lines shown (default: warning)")
        ->check(CLI::IsMember({"debug", "info", "warning", "error"}, CLI::ignore_case));
    app.add_option("--extension", options.extensionPath,
                   "Extension library to load (default: libCorvaneWhisper.so beside this program, "
                   "else in the installed extensions folder)");

    CLI::App* describe = app.add_subcommand("describe", "Print every node type the loaded extensions offer, as JSON");
    CLI::App* transcribe = app.add_subcommand(
        "transcribe", "Transcribe audio files (WAV, FLAC, Ogg Vorbis/Opus, MP3; any rate and channel count)");

    addImportModelCommand(app, options);

    CLI::App* listen = app.add_subcommand("listen", "Transcribe a capture device live, utterance by utterance");

    transcribe->add_option("files", options.files,
                           "Audio files (default: the speech sample shipped with whisper.cpp)");
    transcribe->add_option("--step", options.stepSeconds,
                           "Fixed windows of this many seconds instead of windows that end in pauses")
        ->check(numberAbove(0.0, kLongestStepSeconds, "seconds", "SECONDS in (0, 30]"));
    transcribe->add_flag("--realtime", options.realtime, "Feed the audio at its own speed, as a live source would");
    transcribe->add_flag("--partials", options.partials,
                         "Show interim text of each utterance before its final text (on a terminal, or with --json)");
    bool noPartials = false;
    listen->add_flag("--no-partials", noPartials, "Show only the final text of each utterance");
    transcribe
        ->add_option("--output-format", options.outputFormats,
                     "Write the transcript as txt, srt, vtt, json or tsv (several: srt,vtt); without --output-dir "
                     "the first goes to stdout")
        ->delimiter(',')
        ->check(CLI::IsMember({"txt", "srt", "vtt", "json", "tsv"}));
    transcribe->add_option("--output-dir", options.outputDirectory,
                           "Write each format to DIR/<file name>.<format>, one file per input");
    transcribe->add_option("--max-line-length", options.maxLineLength,
                           "Cut segments longer than N characters into cues at word boundaries")
        ->check(integerAtLeast(1));
    listen->add_option("--device", options.device, "Capture device to open (default: the system's default)");
    listen->add_flag("--list-devices", options.listDevices, "List the capture devices and exit");

    NodeFlags node;
    for (CLI::App* command : {transcribe, listen}) {
        addNodeFlags(*command, node);
        command->add_option("--max-window", options.maxWindowSeconds,
                            "Longest window in seconds when no pause ends it (default: 25 for a file, 20 for "
                            "listen and --realtime)")
            ->check(numberAbove(kShortestMaxWindowSeconds, kLongestStepSeconds, "seconds", "SECONDS in (1, 30]"));
        command->add_option("--pause-ms", options.pauseMs, "The pause that ends an utterance, in ms (default: 300)")
            ->check(CLI::Range(50, 5000));
        command->add_option("--timeout", options.timeoutSeconds,
                            "Seconds to wait for each window's text (default: 120)")
            ->check(numberAbove(0.0, HUGE_VAL, "seconds", "SECONDS > 0"));
        command->add_flag("--json", options.json, "One JSON object per window instead of text lines");
        command->add_flag("--quiet", options.quiet, "No progress and no summary on stderr");
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        parsed.outcome = ParsedCommandLine::Outcome::ShowHelp;
        parsed.text = app.help();
        return parsed;
    } catch (const CLI::CallForAllHelp&) {
        parsed.outcome = ParsedCommandLine::Outcome::ShowHelp;
        parsed.text = app.help("", CLI::AppFormatMode::All);
        return parsed;
    } catch (const CLI::ParseError& error) {
        parsed.outcome = ParsedCommandLine::Outcome::UsageError;
        parsed.text = error.what();
        return parsed;
    }

    if (listen->parsed())
        options.partials = !noPartials;
    options.command = describe->parsed()                 ? CommandLineOptions::Command::Describe
                      : listen->parsed()                   ? CommandLineOptions::Command::Listen
                      : app.got_subcommand("import-model") ? CommandLineOptions::Command::ImportModel
                                                           : CommandLineOptions::Command::Transcribe;
    Logger::parseLevel(logLevel, options.logLevel);
    applyNodeFlags(listen->parsed() ? *listen : *transcribe, node, options.nodeConfiguration);
    return parsed;
}

} // namespace corvane::cli
