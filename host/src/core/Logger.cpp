#include <corvane/core/Logger.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include <unistd.h>

namespace corvane {

namespace {

// Any thread may log; the mutex both orders lines and guards the sink.
struct LoggerState {
    std::mutex mutex;
    Logger::Sink sink;
    std::atomic<LogLevel> level{LogLevel::Info};
};

// Never destroyed: libraries and static destructors may still log while the
// process exits.
LoggerState& state()
{
    static LoggerState* const instance = new LoggerState();
    return *instance;
}

// One write() per line, so even other processes sharing stderr see whole lines.
void writeToStderr(LogLevel level, const std::string& line)
{
    std::string text;
    text.reserve(line.size() + 12);
    text += '[';
    text += Logger::levelName(level);
    text += "] ";
    text += line;
    text += '\n';
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

} // namespace

void Logger::debug(const std::string& line) { log(LogLevel::Debug, line); }
void Logger::info(const std::string& line) { log(LogLevel::Info, line); }
void Logger::warning(const std::string& line) { log(LogLevel::Warning, line); }
void Logger::error(const std::string& line) { log(LogLevel::Error, line); }

void Logger::log(LogLevel level, const std::string& line)
{
    LoggerState& s = state();
    if (level < s.level.load(std::memory_order_relaxed))
        return;
    std::lock_guard lock(s.mutex);
    try {
        if (s.sink)
            s.sink(level, line);
        else
            writeToStderr(level, line);
    } catch (...) {
        // Logging is called from catch blocks and destructors; a failing sink
        // must not turn a log line into a new error.
    }
}

void Logger::setSink(Sink sink)
{
    LoggerState& s = state();
    Sink previous;
    {
        std::lock_guard lock(s.mutex);
        previous = std::exchange(s.sink, std::move(sink));
    }
    // The old sink's captures are released outside the lock.
}

void Logger::setLevel(LogLevel minimumLevel)
{
    state().level.store(minimumLevel, std::memory_order_relaxed);
}

LogLevel Logger::getLevel()
{
    return state().level.load(std::memory_order_relaxed);
}

const char* Logger::levelName(LogLevel level) noexcept
{
    switch (level) {
    case LogLevel::Debug: return "DEBUG";
    case LogLevel::Info: return "INFO";
    case LogLevel::Warning: return "WARNING";
    case LogLevel::Error: return "ERROR";
    }
    return "UNKNOWN";
}

bool Logger::parseLevel(const std::string& name, LogLevel& level) noexcept
{
    const auto equalsIgnoringCase = [&name](const char* candidate) {
        const std::size_t length = std::strlen(candidate);
        if (name.size() != length)
            return false;
        for (std::size_t i = 0; i < length; ++i) {
            if (std::tolower(static_cast<unsigned char>(name[i])) != candidate[i])
                return false;
        }
        return true;
    };
    if (equalsIgnoringCase("debug"))
        level = LogLevel::Debug;
    else if (equalsIgnoringCase("info"))
        level = LogLevel::Info;
    else if (equalsIgnoringCase("warning") || equalsIgnoringCase("warn"))
        level = LogLevel::Warning;
    else if (equalsIgnoringCase("error"))
        level = LogLevel::Error;
    else
        return false;
    return true;
}

} // namespace corvane
