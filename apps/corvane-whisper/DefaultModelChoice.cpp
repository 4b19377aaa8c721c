#include "DefaultModelChoice.h"

#include <system_error>

#include "ModelLocation.h"

namespace corvane::cli {

using extensions::whisper::kDefaultModelFileName;

std::vector<std::filesystem::path> defaultModelFolders()
{
    std::vector<std::filesystem::path> folders;
    if (const auto besideProgram = extensions::whisper::executableDirectory(); !besideProgram.empty())
        folders.push_back(besideProgram);
    folders.emplace_back(extensions::whisper::fallbackFilesDirectory());
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
