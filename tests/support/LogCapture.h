#pragma once

#include <algorithm>
#include <chrono>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <corvane/core/Logger.h>

namespace corvane::test {

/// Captures every log line (all levels, from any thread) while it exists.
class LogCapture {
public:
    LogCapture()
    {
        Logger::setLevel(LogLevel::Debug);
        Logger::setSink([this](LogLevel, const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(text);
        });
    }
    ~LogCapture()
    {
        Logger::setSink(nullptr);
        Logger::setLevel(LogLevel::Info);
    }

    /// The lines that start with prefix (all lines for "").
    std::vector<std::string> texts(const std::string& prefix = "") const
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> result;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(result),
                     [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
        return result;
    }
    std::size_t count(const std::string& prefix) const { return texts(prefix).size(); }
    /// Polls until count(prefix) reaches n; false on timeout.
    bool waitForCount(const std::string& prefix, std::size_t n,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60)) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (count(prefix) < n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return count(prefix) >= n;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.clear();
    }

private:
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

} // namespace corvane::test
