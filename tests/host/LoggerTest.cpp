#include <corvane/core/Logger.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using corvane::LogLevel;
using corvane::Logger;

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        Logger::setSink({});
        Logger::setLevel(LogLevel::Info);
    }

    // Appends without a lock of its own: the logger serialises sink calls.
    void capture()
    {
        Logger::setSink([this](LogLevel level, const std::string& line) {
            lines.push_back(std::string(Logger::levelName(level)) + ":" + line);
        });
    }

    std::vector<std::string> lines;
};

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 400;

std::string threadLine(int thread, int index)
{
    return "thread " + std::to_string(thread) + " line " + std::to_string(index) + " " + std::string(64, 'x');
}

void logFromManyThreads()
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesPerThread; ++i)
                Logger::warning(threadLine(t, i));
        });
    for (auto& thread : threads)
        thread.join();
}

// Every line arrives whole, and each thread's lines in the order it wrote them.
void expectAllLinesInThreadOrder(const std::vector<std::string>& received, const std::string& prefix)
{
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kThreads * kLinesPerThread));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : received) {
        int t = 0;
        while (t < kThreads && (next[t] == kLinesPerThread || line != prefix + threadLine(t, next[t])))
            ++t;
        ASSERT_LT(t, kThreads) << "unexpected or garbled line: " << line;
        ++next[t];
    }
}

} // namespace

TEST_F(LoggerTest, FiltersBelowTheLevel)
{
    capture();
    Logger::debug("hidden");
    Logger::info("shown");
    Logger::setLevel(LogLevel::Error);
    Logger::warning("hidden");
    Logger::log(LogLevel::Error, "shown too");
    Logger::setLevel(LogLevel::Debug);
    Logger::debug("now shown");
    EXPECT_EQ(lines, (std::vector<std::string>{"INFO:shown", "ERROR:shown too", "DEBUG:now shown"}));

    // A throwing sink must not reach the code that logs.
    Logger::setSink([](LogLevel, const std::string&) { throw std::runtime_error("disk full"); });
    EXPECT_NO_THROW(Logger::error("still fine"));
}

TEST_F(LoggerTest, ParsesLevelNames)
{
    LogLevel level = LogLevel::Error;
    for (auto [name, expected] : {std::pair{"DeBuG", LogLevel::Debug}, {"WARN", LogLevel::Warning},
                                  {"warning", LogLevel::Warning}, {"Info", LogLevel::Info}}) {
        EXPECT_TRUE(Logger::parseLevel(name, level)) << name;
        EXPECT_EQ(level, expected) << name;
    }
    for (const char* bad : {"", "inf", "errors", " error", "fatal"})
        EXPECT_FALSE(Logger::parseLevel(bad, level)) << bad;
    EXPECT_EQ(level, LogLevel::Info);
}

TEST_F(LoggerTest, LinesFromManyThreadsArriveWholeAndInOrder)
{
    capture();
    logFromManyThreads();
    expectAllLinesInThreadOrder(lines, "WARNING:");

    Logger::setSink({}); // the default sink, stderr
    ::testing::internal::CaptureStderr();
    logFromManyThreads();
    const std::string output = ::testing::internal::GetCapturedStderr();
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(output.back(), '\n');
    std::vector<std::string> received;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);)
        received.push_back(line);
    expectAllLinesInThreadOrder(received, "[WARNING] ");
}
