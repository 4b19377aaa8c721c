#pragma once

#include <functional>
#include <string>

#include <corvane/core/CorvaneExport.h>

namespace corvane {

enum class LogLevel { Debug = 0, Info = 1, Warning = 2, Error = 3 };

/// The host's process-wide log. Each call writes exactly one line; lines from
/// different threads never interleave. Callable from any thread, but it locks:
/// keep it off the audio thread.
class CORVANE_API Logger {
public:
    /// Receives every line at or above the level filter. Called under the
    /// logger's lock, so a sink must not log itself.
    using Sink = std::function<void(LogLevel level, const std::string& line)>;

    static void debug(const std::string& line);
    static void info(const std::string& line);
    static void warning(const std::string& line);
    static void error(const std::string& line);
    static void log(LogLevel level, const std::string& line);

    /// Replaces the sink; an empty sink restores the default, which writes
    /// "[LEVEL] line" to stderr.
    static void setSink(Sink sink);
    /// Lines below this level are dropped (default: Info).
    static void setLevel(LogLevel minimumLevel);
    static LogLevel getLevel();

    /// "DEBUG", "INFO", "WARNING", "ERROR".
    static const char* levelName(LogLevel level) noexcept;
    /// Parses those names, case-insensitively; false for anything else.
    static bool parseLevel(const std::string& name, LogLevel& level) noexcept;
};

} // namespace corvane
