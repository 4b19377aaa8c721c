#pragma once

#include <string>

namespace corvane::cli {

// Where corvane-whisper finds the extension and models once installed: the
// install puts them at fixed places relative to its bin/ folder (see
// cmake/CorvaneInstallDirs.cmake). Called on the main thread only.

/// The folder of the running program, with a trailing '/'; "" when it
/// cannot be told.
std::string programDirectory();

/// libCorvaneWhisper.so in the installed extensions folder beside this
/// program's bin/ folder; "" when the program's folder cannot be told.
std::string installedExtensionPath();

/// The installed models folder, with a trailing '/'; "" when the program's
/// folder cannot be told.
std::string installedModelsDirectory();

} // namespace corvane::cli
