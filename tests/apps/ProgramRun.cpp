#include "ProgramRun.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane::test {

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string temporaryName(const char* what)
{
    static int counter = 0;
    return (std::filesystem::temp_directory_path() /
            ("corvane-cli-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "." + what))
        .string();
}

} // namespace

std::string ProgramRun::describe() const
{
    std::string text = exited ? "exit " + std::to_string(exitCode)
                              : (timedOut ? "timed out" : "signal " + std::to_string(signal));
    return text + "\n--- stdout ---\n" + out + "--- stderr ---\n" + err;
}

ProgramRun runProgram(const std::vector<std::string>& arguments, int limitSeconds)
{
    const std::string outPath = temporaryName("out");
    const std::string errPath = temporaryName("err");

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0)
            ::_exit(126);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }

    ProgramRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    while (child > 0 && ::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            run.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (child > 0 && !run.timedOut) {
        run.exited = WIFEXITED(status);
        run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
        run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    run.out = readAll(outPath);
    run.err = readAll(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return run;
}

std::string cliPath()
{
    return std::string(CORVANE_BINARY_DIR) + "/corvane-whisper";
}

std::string findTool(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

} // namespace corvane::test
