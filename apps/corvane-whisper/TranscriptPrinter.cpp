#include "TranscriptPrinter.h"

#include <cmath>

#include <unistd.h>

#include <nlohmann/json.hpp>

namespace corvane::cli {

std::string formatTimestamp(double seconds)
{
    const long long totalMs = std::max(0LL, std::llround(seconds * 1000.0));
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld.%03lld", totalMs / 60000, (totalMs / 1000) % 60, totalMs % 1000);
    return text;
}

std::string trimText(const std::string& text)
{
    constexpr const char* kSpace = " \t\r\n";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

std::string formatWindowTimes(const WindowSchedule::Window& window)
{
    return "[" + formatTimestamp(window.getStartSeconds()) + " --> " + formatTimestamp(window.getEndSeconds()) + "]";
}

std::string formatTextLine(const WindowSchedule::Window& window, const std::string& text)
{
    return formatWindowTimes(window) + "  " + trimText(text);
}

std::string formatJsonLine(const std::string& file, const WindowSchedule::Window& window,
                           const Transcription& transcription, bool sayFinal)
{
    nlohmann::ordered_json line;
    line["file"] = file;
    line["start"] = window.getStartSeconds();
    line["end"] = window.getEndSeconds();
    line["text"] = trimText(transcription.text);
    line["processingTime"] = transcription.processingTimeMs;
    if (!transcription.language.empty()) {
        line["language"] = transcription.language;
        line["languageProbability"] = std::round(transcription.languageProbability * 1000.0) / 1000.0;
    }
    if (sayFinal)
        line["final"] = transcription.final;
    if (!transcription.final)
        line["stableText"] = trimText(transcription.stableText);
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

TranscriptPrinter::TranscriptPrinter(std::FILE* stream, bool json, bool interim)
    : stream(stream), json(json), interim(interim), terminal(::isatty(::fileno(stream)) == 1)
{
}

void TranscriptPrinter::print(const std::string& file, const WindowSchedule::Window& window,
                              const Transcription& transcription)
{
    if (!transcription.final && !showsInterim())
        return;
    std::string line;
    if (json) {
        // With interim text every line says which it is, finals included.
        line = formatJsonLine(file, window, transcription, interim) + '\n';
    } else {
        // On a terminal: back to the start of the line, clear it, and write
        // interim text dimmed, without ending the line.
        if (lineOpen)
            line = "\r\x1b[2K";
        line += transcription.final ? formatTextLine(window, transcription.text) + "\n"
                                    : "\x1b[2m" + formatTextLine(window, transcription.text) + "\x1b[0m";
        lineOpen = !transcription.final;
    }
    std::fputs(line.c_str(), stream);
    std::fflush(stream);
}

} // namespace corvane::cli
