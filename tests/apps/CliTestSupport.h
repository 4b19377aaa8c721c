#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRun.h"

namespace corvane::test {

/// A fresh folder, removed with everything in it at the end of its life.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    std::string file(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};

/// A 16-bit WAV file of quiet noise.
void writeWav(const std::string& path, double seconds, int sampleRate, int channels);

/// Frames / rate, read with libsndfile; -1 when the file cannot be read.
double audioDuration(const std::string& path);

/// Runs `sox -D input [options] output`; false when it fails.
bool convertWithSox(const std::string& input, const std::string& output, const std::vector<std::string>& options);

/// corvane-whisper transcribe with the weight-less test model on two CPU
/// threads, then `arguments`.
ProgramRun transcribeWithTestModel(const std::vector<std::string>& arguments);

/// One line of `transcribe --json`.
struct WindowLine {
    std::string file;
    double start = 0.0;
    double end = 0.0;
    std::string text;
    long long processingTime = 0;
};

/// Parses every stdout line as a window, adding a test failure for a line
/// that is not JSON or has a field missing or of the wrong type.
std::vector<WindowLine> parseWindowLines(const std::string& out);

/// The file's windows start at 0, each where the previous one ended, and the
/// last ends at the file's duration (within 20 ms).
void expectWindowsCoverFile(const std::vector<WindowLine>& lines, const std::string& file);

} // namespace corvane::test
