#pragma once

#include "CommandLineOptions.h"

namespace corvane::cli {

/// The commands. Each returns the exit code, or raises CommandError.

/// Prints every node type of the loaded extensions as JSON.
int runDescribe(const CommandLineOptions& options);

/// Transcribes the files (or the default sample) with one node.
int runTranscribe(const CommandLineOptions& options);

/// Converts a CTranslate2 Whisper model into a ggml file.
int runImportModel(const CommandLineOptions& options);

/// Transcribes a capture device live until SIGINT or SIGTERM.
int runListen(const CommandLineOptions& options);

} // namespace corvane::cli
