#include "ExtensionLoader.h"

#include <filesystem>

#include <corvane/extensions/ExtensionManager.h>

#include "CommandError.h"
#include "InstalledLayout.h"

namespace corvane::cli {

std::string defaultExtensionPath()
{
    const std::string directory = programDirectory();
    // dlopen searches the library path for a bare name; "./" keeps it to the
    // working directory as a last resort.
    const std::string beside = (directory.empty() ? std::string("./") : directory) + "libCorvaneWhisper.so";
    const std::string installed = installedExtensionPath();
    std::error_code error;
    if (!std::filesystem::exists(beside, error) && !installed.empty() && std::filesystem::exists(installed, error))
        return installed;
    return beside;
}

void loadExtension(const std::string& path)
{
    const Result<void> loaded = ExtensionManager::getInstance().loadLibrary(path);
    if (loaded.hasError())
        throw CommandError(loaded.getError().getMessage());
}

NodeTypeInfo findNodeType(const std::string& type, const std::string& subtype, const std::string& libraryPath)
{
    for (NodeTypeInfo& info : ExtensionManager::getInstance().getNodeTypes()) {
        if (info.type == type && info.subtype == subtype)
            return std::move(info);
    }
    throw CommandError("the extension library " + libraryPath + " offers no " + type + "/" + subtype + " node type");
}

} // namespace corvane::cli
