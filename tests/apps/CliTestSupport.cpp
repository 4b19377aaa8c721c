#include "CliTestSupport.h"

#include <cmath>
#include <random>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>
#include <unistd.h>

#include "TestModels.h"

namespace corvane::test {

TemporaryFolder::TemporaryFolder()
{
    static int counter = 0;
    path = std::filesystem::temp_directory_path() /
           ("corvane-cli-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(path);
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void writeWav(const std::string& path, double seconds, int sampleRate, int channels)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.01f, 0.01f);
    std::vector<float> samples(static_cast<std::size_t>(seconds * sampleRate) * static_cast<std::size_t>(channels));
    for (float& sample : samples)
        sample = noise(random);
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels)));
    sf_close(file);
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

bool convertWithSox(const std::string& input, const std::string& output, const std::vector<std::string>& options)
{
    const std::string sox = findTool("sox");
    if (sox.empty())
        return false;
    std::vector<std::string> arguments{sox, "-D", input};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(output);
    const ProgramRun run = runProgram(arguments, 60);
    return run.exited && run.exitCode == 0;
}

ProgramRun transcribeWithTestModel(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{cliPath(), "transcribe", "--model", weightlessTinyModel(), "--no-gpu", "--threads",
                                 "2"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProgram(all);
}

std::vector<WindowLine> parseWindowLines(const std::string& out)
{
    std::vector<WindowLine> lines;
    std::istringstream text(out);
    std::string line;
    while (std::getline(text, line)) {
        const auto json = nlohmann::json::parse(line, nullptr, false);
        const bool wellFormed = json.is_object() && json.size() == 5 && json.value("file", nlohmann::json()).is_string() &&
                                json.value("start", nlohmann::json()).is_number_float() &&
                                json.value("end", nlohmann::json()).is_number_float() &&
                                json.value("text", nlohmann::json()).is_string() &&
                                json.value("processingTime", nlohmann::json()).is_number_integer();
        if (!wellFormed) {
            ADD_FAILURE() << "not a window line: " << line;
            continue;
        }
        lines.push_back({json["file"], json["start"], json["end"], json["text"], json["processingTime"]});
    }
    return lines;
}

void expectWindowsCoverFile(const std::vector<WindowLine>& lines, const std::string& file)
{
    std::vector<WindowLine> windows;
    for (const WindowLine& line : lines) {
        if (line.file == file)
            windows.push_back(line);
    }
    ASSERT_FALSE(windows.empty()) << "no window for " << file;
    EXPECT_EQ(windows.front().start, 0.0) << file;
    for (std::size_t i = 1; i < windows.size(); ++i)
        EXPECT_EQ(windows[i].start, windows[i - 1].end) << file << ", window " << i;
    for (const WindowLine& window : windows) {
        EXPECT_LT(window.start, window.end) << file;
        EXPECT_GE(window.processingTime, 0) << file;
    }
    EXPECT_NEAR(windows.back().end, audioDuration(file), 0.02) << file;
}

} // namespace corvane::test
