#pragma once

#include <corvane/core/Logger.h>

namespace corvane::cli {

/// Sends the host's log to stderr from `level` up, and silences whisper.cpp's
/// own progress chatter unless the level is Debug.
void configureLogging(LogLevel level);

} // namespace corvane::cli
