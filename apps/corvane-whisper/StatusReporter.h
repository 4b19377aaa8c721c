#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace corvane::cli {

/// What the user sees on stderr besides errors: a progress line for long files
/// while stderr is a terminal, and a closing summary.
class StatusReporter {
public:
    /// Files at most this long get no progress line.
    static constexpr double kProgressAfterSeconds = 60.0;

    /// quiet: neither progress nor summary. Progress also needs stderr to be
    /// a terminal.
    explicit StatusReporter(bool quiet);

    /// A new file of this duration starts.
    void beginFile(const std::string& file, double durationSeconds);
    /// Redraws the progress line when the file gets one, at most a few times
    /// a second.
    void showProgress(double secondsDone);
    /// Takes the progress line off the screen before something else is
    /// printed; showProgress puts it back.
    void clearProgress();

    /// "N s of audio in M s (real-time factor R)", plus the model load time.
    void printSummary(double audioSeconds, double wallSeconds, double modelLoadSeconds);

    /// The summary's text, without the prefix.
    static std::string formatSummary(double audioSeconds, double wallSeconds, double modelLoadSeconds);

private:
    bool quiet;
    bool terminal;
    bool progressShown = false;
    bool fileHasProgress = false;
    std::string fileName;
    double fileSeconds = 0.0;
    std::chrono::steady_clock::time_point lastDrawn{};
};

} // namespace corvane::cli
