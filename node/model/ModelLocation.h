#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvane::extensions::whisper {

/// Where the node finds its model files when nobody names one: next to the
/// host executable (not next to this library), else a folder fixed at build
/// time that ends in "Extensions/CorvaneWhisper/files/".

inline constexpr const char* kDefaultModelFileName = "ggml-base.en.bin";
inline constexpr const char* kDefaultVadModelFileName = "silero-v6.0.0-ggml.bin";

/// Directory of the running executable (from /proc/self/exe), or an empty
/// path when it cannot be determined.
std::filesystem::path executableDirectory();

/// The directory part of an executable path: everything before the last '/'
/// or '\\'; empty when there is no separator.
std::filesystem::path directoryOfExecutablePath(std::string_view executablePath);

/// The build-time fallback folder, with a trailing '/'.
std::string fallbackFilesDirectory();

/// fileName next to the executable in executableDir when something of that
/// name exists there, else fallbackDirectory + fileName (not checked).
/// Raises std::filesystem::filesystem_error when the existence test fails for
/// another reason than a missing file or folder.
std::string defaultFilePath(const std::string& fileName, const std::filesystem::path& executableDir,
                            const std::string& fallbackDirectory);

/// defaultFilePath for the Whisper model and the Silero VAD model, from the
/// running executable and the build-time fallback.
std::string defaultModelPath();
std::string defaultVadModelPath();

/// True when a file-system object of this name exists (a dangling link counts
/// as missing). Raises std::filesystem::filesystem_error for failures other
/// than a missing object or parent folder.
bool pathExists(const std::string& path);

} // namespace corvane::extensions::whisper
