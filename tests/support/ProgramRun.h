#pragma once

// Runs programs the way a user would, for the tests of corvane-whisper.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace corvane::test {

struct ProgramRun {
    bool exited = false; ///< Through exit(), not killed by a signal (a crash or the time limit).
    int exitCode = -1;   ///< -1 when it did not exit.
    std::string out, err;

    bool succeeded() const { return exited && exitCode == 0; }
    std::string describe() const
    {
        return "exit " + std::to_string(exitCode) + "\n--- stdout ---\n" + out + "--- stderr ---\n" + err;
    }
};

/// Runs the command with stdin from /dev/null; it is killed after five minutes.
inline ProgramRun runProgram(const std::vector<std::string>& arguments)
{
    static int runs = 0;
    const std::string base = std::string(CORVANE_TEST_DATA_DIR) + "/run-" + std::to_string(::getpid()) + "-" +
                             std::to_string(++runs);
    std::string command = "timeout -s KILL 300";
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    const int status = std::system((command + " </dev/null >'" + base + ".out' 2>'" + base + ".err'").c_str());
    auto take = [](const std::string& path) {
        std::ifstream in(path);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        std::filesystem::remove(path);
        return text;
    };
    // timeout reports its KILL as 128 + 9.
    const bool exited = WIFEXITED(status) && WEXITSTATUS(status) != 137;
    return {exited, exited ? WEXITSTATUS(status) : -1, take(base + ".out"), take(base + ".err")};
}

inline ProgramRun runCli(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), std::string(CORVANE_BINARY_DIR) + "/corvane-whisper");
    return runProgram(arguments);
}

/// A path in the tests' scratch folder; each test uses names of its own.
inline std::string temporaryFile(const std::string& name)
{
    const auto folder = std::filesystem::path(CORVANE_TEST_DATA_DIR) / "cli";
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

} // namespace corvane::test
