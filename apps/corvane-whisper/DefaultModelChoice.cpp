#include "DefaultModelChoice.h"

#include "ExtensionLoader.h"

#include <array>
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

std::string chooseStandInModel(const std::vector<std::filesystem::path>& folders)
{
    // Best first; the first is the node's own default.
    constexpr std::array<const char*, 3> preference{kDefaultModelFileName, "ggml-small.en.bin", "ggml-tiny.en.bin"};
    for (const char* name : preference) {
        for (const auto& folder : folders) {
            std::error_code error;
            if (!std::filesystem::is_regular_file(folder / name, error))
                continue;
            return name == preference.front() ? std::string() : (folder / name).string();
        }
    }
    return {};
}

} // namespace corvane::cli
