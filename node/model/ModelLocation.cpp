#include "ModelLocation.h"

#include <array>
#include <system_error>

#include <unistd.h>

#ifndef CORVANE_WHISPER_FALLBACK_FILES_DIR
#error "CORVANE_WHISPER_FALLBACK_FILES_DIR must name the build tree's Extensions/CorvaneWhisper/files/ folder"
#endif

namespace corvane::extensions::whisper {

std::filesystem::path directoryOfExecutablePath(std::string_view executablePath)
{
    const auto separator = executablePath.find_last_of("/\\");
    if (executablePath.empty() || separator == std::string_view::npos)
        return {};
    return std::filesystem::path(std::string(executablePath.substr(0, separator)));
}

std::filesystem::path executableDirectory()
{
    // readlink does not terminate the text; a failure leaves it empty.
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return {};
    return directoryOfExecutablePath(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
}

std::string fallbackFilesDirectory()
{
    return CORVANE_WHISPER_FALLBACK_FILES_DIR;
}

bool pathExists(const std::string& path)
{
    std::error_code error;
    const bool found = std::filesystem::exists(path, error);
    // exists() already maps "no such file" and "not a directory" to false
    // without an error; anything left (permission denied, ...) is real.
    if (error)
        throw std::filesystem::filesystem_error("exists", path, error);
    return found;
}

std::string defaultFilePath(const std::string& fileName, const std::filesystem::path& executableDir,
                            const std::string& fallbackDirectory)
{
    const std::string candidate = (executableDir / fileName).string();
    if (pathExists(candidate))
        return candidate;
    return fallbackDirectory + fileName;
}

std::string defaultModelPath()
{
    return defaultFilePath(kDefaultModelFileName, executableDirectory(), fallbackFilesDirectory());
}

std::string defaultVadModelPath()
{
    return defaultFilePath(kDefaultVadModelFileName, executableDirectory(), fallbackFilesDirectory());
}

} // namespace corvane::extensions::whisper
