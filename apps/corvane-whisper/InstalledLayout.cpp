#include "InstalledLayout.h"

#include <filesystem>

#include "ModelLocation.h"

#if !defined(CORVANE_WHISPER_INSTALLED_EXTENSIONS_DIR) || !defined(CORVANE_WHISPER_INSTALLED_MODELS_DIR)
#error "the installed extensions and models folders, relative to bin/, must be given"
#endif

namespace corvane::cli {

std::string programDirectory()
{
    const std::filesystem::path directory = extensions::whisper::executableDirectory();
    return directory.empty() ? std::string() : directory.string() + "/";
}

namespace {

std::string besideProgram(const char* relativeFolder)
{
    const std::string directory = programDirectory();
    return directory.empty() ? std::string() : directory + relativeFolder + "/";
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

} // namespace corvane::cli
