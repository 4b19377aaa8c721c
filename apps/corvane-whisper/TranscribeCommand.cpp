#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <corvane/extensions/ExtensionManager.h>
#include <corvane/graph/AudioSinkNode.h>

#include "AudioFileReader.h"
#include "CommandError.h"
#include "Commands.h"
#include "DefaultModelChoice.h"
#include "ExtensionLoader.h"
#include "FileTranscription.h"
#include "InstalledLayout.h"
#include "StatusReporter.h"
#include "TranscriptPrinter.h"
#include "TranscriptionQueue.h"
#include "UtteranceFileTranscription.h"
#include "WhisperNodeSetup.h"

#ifndef CORVANE_WHISPER_FALLBACK_FILES_DIR
#error "CORVANE_WHISPER_FALLBACK_FILES_DIR must name the folder where the node looks for its default model"
#endif
#ifndef CORVANE_WHISPER_DEFAULT_SAMPLE
#error "CORVANE_WHISPER_DEFAULT_SAMPLE must name the speech sample transcribed when no file is given"
#endif

namespace corvane::cli {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> filesToTranscribe(const CommandLineOptions& options)
{
    if (!options.files.empty())
        return options.files;
    const std::string sample = CORVANE_WHISPER_DEFAULT_SAMPLE;
    if (!std::filesystem::exists(sample))
        throw CommandError("no audio file given, and the default speech sample " + sample +
                           " is missing: run scripts/fetch-whisper to get it, or name audio files");
    return {sample};
}

std::string howToGetAModel()
{
    return "download one with scripts/download-model, or pass --model PATH";
}

void checkModelPath(const std::string& path)
{
    if (path.empty())
        return;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw CommandError("model file not found: " + path + " (scripts/download-model downloads models)");
}

std::unique_ptr<Node> createNode(const CommandLineOptions& options)
{
    try {
        return ExtensionManager::getInstance().createNode("Whisper", options.configurationForNode());
    } catch (const std::exception& error) {
        const std::string model = options.modelPath();
        if (model.empty())
            throw CommandError(std::string("cannot create the Whisper node: ") + error.what());
        throw CommandError("cannot load the model " + model + " (is it a ggml Whisper model?): " + error.what());
    }
}

/// "transcribe" before any audio is a no-op that only fails without a model.
void checkModelLoaded(Node& node, const CommandLineOptions& options)
{
    const Result<CVAny> probe = node.callAction("transcribe", CVAnyMap{});
    if (probe.isOk())
        return;
    if (!options.modelPath().empty())
        throw CommandError("no model loaded from " + options.modelPath() + " (" + probe.getError().getMessage() + ")");
    const std::string besideProgram = executableDirectory().empty() ? "the program's folder" : executableDirectory();
    std::error_code error;
    const std::string models = installedModelsDirectory();
    const std::string alsoInstalled =
        !models.empty() && std::filesystem::is_directory(models, error) ? ", and this program in " + models : "";
    throw CommandError(std::string("no Whisper model found: the node looked for ") + kDefaultModelFileName + " in " +
                       besideProgram + " and in " + CORVANE_WHISPER_FALLBACK_FILES_DIR + alsoInstalled + "; " +
                       howToGetAModel());
}

/// The options, naming a stand-in model when the user named none and the
/// node would not find its default: a smaller model in its folders, or one
/// in the installed models folder.
CommandLineOptions withStandInModel(const CommandLineOptions& options)
{
    CommandLineOptions chosen = options;
    if (!options.modelPath().empty())
        return chosen;
    std::vector<std::filesystem::path> installed;
    if (const std::string models = installedModelsDirectory(); !models.empty())
        installed.emplace_back(models);
    const std::string standIn = chooseStandInModel(defaultModelFolders(), installed);
    if (standIn.empty())
        return chosen;
    std::fprintf(stderr, "corvane-whisper: no %s where the node looks; using %s\n", kDefaultModelFileName, standIn.c_str());
    chosen.nodeConfiguration.set("modelPath", standIn);
    return chosen;
}

} // namespace

WhisperNode createWhisperNode(const CommandLineOptions& requested)
{
    const CommandLineOptions options = withStandInModel(requested);
    checkModelPath(options.modelPath());
    const std::string library = options.extensionPath.empty() ? defaultExtensionPath() : options.extensionPath;
    loadExtension(library);
    findNodeType("Whisper", "STT", library);

    WhisperNode created;
    const Clock::time_point loadStarted = Clock::now();
    created.node = createNode(options);
    created.loadSeconds = secondsSince(loadStarted);
    created.sink = dynamic_cast<AudioSinkNode*>(created.node.get());
    if (created.sink == nullptr)
        throw CommandError("the Whisper node created by " + library + " takes no audio");
    checkModelLoaded(*created.node, options);
    return created;
}

int runTranscribe(const CommandLineOptions& options)
{
    // Everything that can be checked cheaply is, before a model is loaded.
    const std::vector<std::string> files = filesToTranscribe(options);
    for (const std::string& file : files)
        checkAudioFile(file);

    // Declared before the node: the node's listener refers to it.
    TranscriptionQueue queue;
    const WhisperNode whisper = createWhisperNode(options);
    whisper.node->addListener("transcribed", [&queue](const std::string&, const CVAny& data) { queue.push(data); });

    TranscriptPrinter printer(stdout, options.json);
    StatusReporter status(options.quiet);
    TranscriptionSettings settings;
    settings.stepSeconds = options.stepSeconds;
    settings.maxWindowSeconds = options.maxWindowSeconds;
    settings.realtime = options.realtime;
    settings.timeout = std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000.0));
    std::unique_ptr<FileTranscriber> transcription;
    if (settings.stepSeconds > 0.0)
        transcription = std::make_unique<FileTranscription>(*whisper.sink, queue, printer, status, settings);
    else
        transcription = std::make_unique<UtteranceFileTranscription>(*whisper.sink, queue, printer, status, settings);

    const Clock::time_point started = Clock::now();
    double audioSeconds = 0.0;
    try {
        for (const std::string& file : files) {
            MonoAudio audio = readMonoAudio(file);
            audioSeconds += audio.getDurationSeconds();
            transcription->run(file, audio);
        }
    } catch (const TranscriptionTimeout& timeout) {
        leaveAfterTimeout(status, timeout);
    }

    status.printSummary(audioSeconds, secondsSince(started), whisper.loadSeconds);
    return kExitSuccess;
}

void leaveAfterTimeout(StatusReporter& status, const TranscriptionTimeout& timeout)
{
    // Destroying the node would wait for the run it is still busy with, for
    // as long as that takes: leave at once instead.
    status.clearProgress();
    reportError(timeout.what());
    std::fflush(stdout);
    std::_Exit(timeout.getExitCode());
}

} // namespace corvane::cli
