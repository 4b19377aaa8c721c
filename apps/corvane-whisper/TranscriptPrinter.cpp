#include "TranscriptPrinter.h"

#include <cmath>

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
                           const Transcription& transcription)
{
    nlohmann::ordered_json line;
    line["file"] = file;
    line["start"] = window.getStartSeconds();
    line["end"] = window.getEndSeconds();
    line["text"] = trimText(transcription.text);
    line["processingTime"] = transcription.processingTimeMs;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void TranscriptPrinter::print(const std::string& file, const WindowSchedule::Window& window,
                              const Transcription& transcription)
{
    const std::string line =
        json ? formatJsonLine(file, window, transcription) : formatTextLine(window, transcription.text);
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace corvane::cli
