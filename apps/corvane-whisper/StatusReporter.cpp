#include "StatusReporter.h"

#include <unistd.h>

#include "TranscriptPrinter.h"

namespace corvane::cli {

StatusReporter::StatusReporter(bool beQuiet) : quiet(beQuiet), terminal(::isatty(STDERR_FILENO) == 1) {}

void StatusReporter::beginFile(const std::string& file, double durationSeconds)
{
    clearProgress();
    fileName = file;
    fileSeconds = durationSeconds;
    fileHasProgress = !quiet && terminal && durationSeconds > kProgressAfterSeconds;
}

void StatusReporter::showProgress(double secondsDone)
{
    if (!fileHasProgress)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (progressShown && now - lastDrawn < std::chrono::milliseconds(200))
        return;
    lastDrawn = now;
    const double percent = fileSeconds > 0.0 ? 100.0 * secondsDone / fileSeconds : 100.0;
    std::fprintf(stderr, "\r\033[K%s: %s / %s (%.0f%%)", fileName.c_str(), formatTimestamp(secondsDone).c_str(),
                 formatTimestamp(fileSeconds).c_str(), percent);
    std::fflush(stderr);
    progressShown = true;
}

void StatusReporter::clearProgress()
{
    if (!progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressShown = false;
}

std::string StatusReporter::formatSummary(double audioSeconds, double wallSeconds, double modelLoadSeconds)
{
    char text[160];
    const double factor = audioSeconds > 0.0 ? wallSeconds / audioSeconds : 0.0;
    std::snprintf(text, sizeof text, "%.2f s of audio in %.2f s (real-time factor %.3f; model loaded in %.2f s)",
                  audioSeconds, wallSeconds, factor, modelLoadSeconds);
    return text;
}

void StatusReporter::printSummary(double audioSeconds, double wallSeconds, double modelLoadSeconds)
{
    clearProgress();
    if (quiet)
        return;
    std::fprintf(stderr, "corvane-whisper: %s\n", formatSummary(audioSeconds, wallSeconds, modelLoadSeconds).c_str());
}

} // namespace corvane::cli
