#pragma once

#include <string>
#include <vector>

namespace corvane::test {

/// How a child process ended and what it wrote.
struct ProgramRun {
    bool exited = false; ///< Through exit(): not by a signal, nor out of time.
    int exitCode = -1;
    int signal = 0;
    std::string out;
    std::string err;

    bool succeeded() const { return exited && exitCode == 0; }
    /// For assertion messages.
    std::string describe() const;
};

/// Runs arguments[0], looked up on PATH (exit 127 when it is not there), with
/// stdin from /dev/null and stdout and stderr captured. A child still running
/// after limitSeconds dies of SIGALRM.
ProgramRun runProgram(const std::vector<std::string>& arguments, unsigned limitSeconds = 300);

/// The built corvane-whisper with these arguments.
ProgramRun runCli(std::vector<std::string> arguments);

/// corvane-whisper transcribe with the weight-less test model on two CPU
/// threads, then `arguments`.
ProgramRun transcribeWithTestModel(const std::vector<std::string>& arguments);

/// A path in a folder of this process's own, removed with everything in it
/// when the process ends.
std::string temporaryFile(const std::string& name);

/// `sox -D input -r 44100 -c 2 output`; false when sox is missing or fails.
bool convertTo44kStereo(const std::string& input, const std::string& output);

/// The run succeeded and printed one `transcribe --json` line per window,
/// each with its five fields of the right types, for these files only. Each
/// file's windows start at 0, each where the previous one ended, and the last
/// ends at the file's duration (within 20 ms). windowsPerFile 0: any number.
void expectWindowsCoverFiles(const ProgramRun& run, const std::vector<std::string>& files,
                             std::size_t windowsPerFile = 0);

} // namespace corvane::test
