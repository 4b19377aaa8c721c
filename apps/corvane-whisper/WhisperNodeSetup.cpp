#include "WhisperNodeSetup.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <corvane/extensions/ExtensionManager.h>

#include "CommandError.h"
#include "DefaultModelChoice.h"
#include "ExtensionLoader.h"
#include "InstalledLayout.h"
#include "ModelLocation.h"

namespace corvane::cli {

namespace {

using Clock = std::chrono::steady_clock;
using extensions::whisper::fallbackFilesDirectory;
using extensions::whisper::kDefaultModelFileName;

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
    const std::string besideProgram = programDirectory().empty() ? "the program's folder" : programDirectory();
    std::error_code error;
    const std::string models = installedModelsDirectory();
    const std::string alsoInstalled =
        !models.empty() && std::filesystem::is_directory(models, error) ? ", and this program in " + models : "";
    throw CommandError(std::string("no Whisper model found: the node looked for ") + kDefaultModelFileName + " in " +
                       besideProgram + " and in " + fallbackFilesDirectory() + alsoInstalled + "; " +
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
    created.loadSeconds = std::chrono::duration<double>(Clock::now() - loadStarted).count();
    created.sink = dynamic_cast<AudioSinkNode*>(created.node.get());
    if (created.sink == nullptr)
        throw CommandError("the Whisper node created by " + library + " takes no audio");
    checkModelLoaded(*created.node, options);
    return created;
}

void negotiateMonoInput(AudioSinkNode& node, double sampleRate, const std::string& source)
{
    AudioBusFormatList formats{AudioBusFormat{1, sampleRate}};
    if (!node.setBusFormats(formats)) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g Hz", sampleRate);
        throw CommandError(std::string("the node refused mono audio at ") + rate + " (" + source + ")");
    }
    // Whatever the node still holds from an earlier source is not this one's.
    const Result<CVAny> reset = node.callAction("resetTranscribeWindow", CVAnyMap{});
    if (reset.hasError())
        throw CommandError(reset.getError().getMessage());
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
