#include "CliTestSupport.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include "TestModels.h"

namespace corvane::test {

namespace {

std::string readBackAndClose(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t read = 0; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, read);
    std::fclose(file);
    return text;
}

double audioDuration(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return -1.0;
    sf_close(file);
    return static_cast<double>(info.frames) / info.samplerate;
}

} // namespace

std::string ProgramRun::describe() const
{
    return (exited ? "exit " + std::to_string(exitCode) : "signal " + std::string(::strsignal(signal))) +
           "\n--- stdout ---\n" + out + "--- stderr ---\n" + err;
}

ProgramRun runProgram(const std::vector<std::string>& arguments, unsigned limitSeconds)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        if (in < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(::fileno(out), STDOUT_FILENO) < 0 ||
            ::dup2(::fileno(err), STDERR_FILENO) < 0)
            ::_exit(126);
        ::alarm(limitSeconds); // outlives execv
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }

    ProgramRun run;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child) {
        run.exited = WIFEXITED(status);
        run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
        run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    run.out = readBackAndClose(out);
    run.err = readBackAndClose(err);
    return run;
}

ProgramRun runCli(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), std::string(CORVANE_BINARY_DIR) + "/corvane-whisper");
    return runProgram(arguments);
}

ProgramRun transcribeWithTestModel(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{"transcribe", "--model", weightlessTinyModel(), "--no-gpu", "--threads", "2"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runCli(all);
}

std::string temporaryFile(const std::string& name)
{
    static const struct Folder {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("corvane-cli-test-" + std::to_string(::getpid()));
        Folder() { std::filesystem::create_directories(path); }
        ~Folder() { std::error_code ignored; std::filesystem::remove_all(path, ignored); }
    } folder;
    return (folder.path / name).string();
}

bool convertTo44kStereo(const std::string& input, const std::string& output)
{
    return runProgram({"sox", "-D", input, "-r", "44100", "-c", "2", output}, 60).succeeded();
}

void expectWindowsCoverFiles(const ProgramRun& run, const std::vector<std::string>& files, std::size_t windowsPerFile)
{
    ASSERT_TRUE(run.succeeded()) << run.describe();
    std::map<std::string, std::vector<nlohmann::json>> windowsOf;
    std::istringstream text(run.out);
    for (std::string line; std::getline(text, line);) {
        const auto json = nlohmann::json::parse(line, nullptr, false);
        const auto field = [&json](const char* key) { return json.value(key, nlohmann::json()); };
        if (json.is_object() && json.size() == 5 && field("file").is_string() && field("start").is_number_float() &&
            field("end").is_number_float() && field("text").is_string() && field("processingTime").is_number_integer())
            windowsOf[json["file"]].push_back(json);
        else
            ADD_FAILURE() << "not a window line: " << line;
    }
    EXPECT_EQ(windowsOf.size(), files.size()) << run.out;
    for (const std::string& file : files) {
        const std::vector<nlohmann::json>& windows = windowsOf[file];
        ASSERT_FALSE(windows.empty()) << "no window for " << file;
        if (windowsPerFile > 0) {
            EXPECT_EQ(windows.size(), windowsPerFile) << file << "\n" << run.out;
        }
        for (std::size_t i = 0; i < windows.size(); ++i) {
            EXPECT_EQ(windows[i]["start"], i == 0 ? nlohmann::json(0.0) : windows[i - 1]["end"]) << file << ", " << i;
            EXPECT_LT(windows[i]["start"], windows[i]["end"]) << file << ", window " << i;
            EXPECT_GE(windows[i]["processingTime"], 0) << file << ", window " << i;
        }
        EXPECT_NEAR(windows.back()["end"].get<double>(), audioDuration(file), 0.02) << file;
    }
}

} // namespace corvane::test
