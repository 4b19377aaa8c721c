#pragma once

#include <string>
#include <vector>

namespace corvane::test {

/// How a child process ended and what it wrote.
struct ProgramRun {
    bool exited = false; ///< Ended through exit(), not by a signal or the time limit.
    int exitCode = -1;
    int signal = 0;      ///< The signal that ended it, 0 when none.
    bool timedOut = false;
    std::string out;
    std::string err;

    /// For assertion messages.
    std::string describe() const;
};

/// Runs the program (arguments[0] is its path) with stdout and stderr
/// captured; stdin is /dev/null. A child still running after limitSeconds is
/// killed and reported as timed out.
ProgramRun runProgram(const std::vector<std::string>& arguments, int limitSeconds = 300);

/// The built corvane-whisper.
std::string cliPath();

/// The program found on PATH, or "" (tests that need sox or espeak-ng skip).
std::string findTool(const std::string& name);

} // namespace corvane::test
