#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <corvane/core/Logger.h>

namespace corvane::test {

/// Captures every log line (all levels) while it exists; restores the default
/// sink and level afterwards. Lines may arrive from any thread.
class LogCapture {
public:
    struct Line {
        LogLevel level;
        std::string text;
    };

    LogCapture()
    {
        Logger::setLevel(LogLevel::Debug);
        Logger::setSink([this](LogLevel level, const std::string& text) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                captured.push_back({level, text});
            }
            changed.notify_all();
        });
    }

    ~LogCapture()
    {
        Logger::setSink(nullptr);
        Logger::setLevel(LogLevel::Info);
    }

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return captured;
    }

    /// Texts of the lines that start with prefix (all lines for "").
    std::vector<std::string> texts(const std::string& prefix = "") const
    {
        std::vector<std::string> result;
        for (const auto& line : lines())
            if (line.text.rfind(prefix, 0) == 0)
                result.push_back(line.text);
        return result;
    }

    std::size_t count(const std::string& prefix) const { return texts(prefix).size(); }

    bool contains(const std::string& text) const
    {
        const auto all = lines();
        return std::any_of(all.begin(), all.end(), [&](const Line& line) { return line.text == text; });
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        captured.clear();
    }

    /// Waits until `count(prefix)` reaches n; false on timeout.
    bool waitForCount(const std::string& prefix, std::size_t n,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60)) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            std::size_t found = 0;
            for (const auto& line : captured)
                found += line.text.rfind(prefix, 0) == 0 ? 1 : 0;
            if (found >= n)
                return true;
            if (changed.wait_until(lock, deadline) == std::cv_status::timeout)
                return false;
        }
    }

private:
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Line> captured;
};

} // namespace corvane::test
