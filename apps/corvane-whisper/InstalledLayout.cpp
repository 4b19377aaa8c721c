#include "InstalledLayout.h"

#include <filesystem>

#include "ExtensionLoader.h"

#if !defined(CORVANE_WHISPER_INSTALLED_EXTENSIONS_DIR) || !defined(CORVANE_WHISPER_INSTALLED_MODELS_DIR)
#error "the installed extensions and models folders, relative to bin/, must be given"
#endif
#ifndef CORVANE_WHISPER_FALLBACK_FILES_DIR
#error "CORVANE_WHISPER_FALLBACK_FILES_DIR must name the folder where the node looks for its default model"
#endif

namespace corvane::cli {

namespace {

/// What the node loads when no model is named (see ModelLocation in the node).
constexpr const char* kDefaultModelFileName = "ggml-base.en.bin";

std::string besideProgram(const char* relativeFolder)
{
    const std::string directory = executableDirectory();
    return directory.empty() ? std::string() : directory + relativeFolder + "/";
}

bool exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

} // namespace

std::string installedExtensionPath()
{
    const std::string folder = besideProgram(CORVANE_WHISPER_INSTALLED_EXTENSIONS_DIR);
    return folder.empty() ? folder : folder + "libCorvaneWhisper.so";
}

std::string installedModelsDirectory()
{
    return besideProgram(CORVANE_WHISPER_INSTALLED_MODELS_DIR);
}

std::string installedDefaultModel()
{
    const std::string models = installedModelsDirectory();
    if (models.empty() || exists(executableDirectory() + kDefaultModelFileName) ||
        exists(std::string(CORVANE_WHISPER_FALLBACK_FILES_DIR) + kDefaultModelFileName))
        return {};
    const std::string installed = models + kDefaultModelFileName;
    return exists(installed) ? installed : std::string();
}

} // namespace corvane::cli
