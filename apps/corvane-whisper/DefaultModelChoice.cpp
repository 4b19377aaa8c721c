#include "DefaultModelChoice.h"

#include "ExtensionLoader.h"

#include <system_error>

#ifndef CORVANE_WHISPER_FALLBACK_FILES_DIR
#error "CORVANE_WHISPER_FALLBACK_FILES_DIR must name the folder where the node looks for its default model"
#endif

namespace corvane::cli {

std::vector<std::filesystem::path> defaultModelFolders()
{
    std::vector<std::filesystem::path> folders;
    if (const std::string besideProgram = executableDirectory(); !besideProgram.empty())
        folders.emplace_back(besideProgram);
    folders.emplace_back(CORVANE_WHISPER_FALLBACK_FILES_DIR);
    return folders;
}

std::string chooseStandInModel(const std::vector<std::filesystem::path>& nodeFolders,
                               const std::vector<std::filesystem::path>& moreFolders)
{
    auto present = [](const std::filesystem::path& file) {
        std::error_code error;
        return std::filesystem::is_regular_file(file, error);
    };
    for (const auto& folder : nodeFolders)
        if (present(folder / kDefaultModelFileName))
            return {};

    std::vector<std::filesystem::path> folders = nodeFolders;
    folders.insert(folders.end(), moreFolders.begin(), moreFolders.end());
    // Best first.
    for (const char* name : {kDefaultModelFileName, "ggml-small.en.bin", "ggml-tiny.en.bin"})
        for (const auto& folder : folders)
            if (present(folder / name))
                return (folder / name).string();
    return {};
}

} // namespace corvane::cli
