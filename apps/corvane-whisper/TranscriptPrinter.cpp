#include "TranscriptPrinter.h"

#include <cmath>

#include <unistd.h>

#include "TranscriptDocuments.h"
#include "TranscriptFormats.h"

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

TranscriptPrinter::TranscriptPrinter(std::FILE* out, bool asJson, TranscriptDocuments* kept, bool withInterim)
    : stream(out),
      json(asJson),
      lines(kept == nullptr || !kept->writesToStream()),
      documents(kept),
      interim(withInterim),
      terminal(::isatty(::fileno(out)) == 1)
{
}

void TranscriptPrinter::print(const std::string& file, const WindowSchedule::Window& window,
                              const Transcription& transcription)
{
    if (!transcription.final && !showsInterim())
        return;
    TimedUtterance utterance = timeUtterance(window, transcription);
    if (transcription.final && documents != nullptr && documents->active())
        documents->add(utterance);
    if (!lines)
        return;
    std::string line;
    if (json) {
        // With interim text every line says which it is, finals included.
        if (interim)
            utterance.final = transcription.final;
        line = formatJsonUtterance(file, utterance) + '\n';
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
