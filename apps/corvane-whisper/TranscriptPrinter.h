#pragma once

#include <cstdio>
#include <string>

#include "TranscriptionQueue.h"
#include "WindowSchedule.h"

namespace corvane::cli {

/// "mm:ss.mmm", rounded to the millisecond; minutes grow past two digits
/// rather than wrap.
std::string formatTimestamp(double seconds);

/// The text without the space whisper.cpp puts in front (and any at the end).
std::string trimText(const std::string& text);

/// "[mm:ss.mmm --> mm:ss.mmm]"
std::string formatWindowTimes(const WindowSchedule::Window& window);

/// "[mm:ss.mmm --> mm:ss.mmm]  text"
std::string formatTextLine(const WindowSchedule::Window& window, const std::string& text);

/// {"file", "start", "end", "text", "processingTime"} on one line, then the
/// language detected when there is one, "final" when sayFinal, and
/// "stableText" for interim text. Text that is not
/// valid UTF-8 (a token may end inside a character) has the bad bytes
/// replaced rather than failing the line.
std::string formatJsonLine(const std::string& file, const WindowSchedule::Window& window,
                           const Transcription& transcription, bool sayFinal = false);

/// Writes one line per window to a stream, flushed at once so a reader sees
/// each window as it is transcribed. With interim text: JSON lines say
/// "final" and carry "stableText"; a terminal shows the interim text dimmed on
/// the line that the final text then overwrites; plain text elsewhere leaves
/// it out.
class TranscriptPrinter {
public:
    TranscriptPrinter(std::FILE* stream, bool json, bool interim = false);

    void print(const std::string& file, const WindowSchedule::Window& window, const Transcription& transcription);
    /// Whether interim text reaches the stream at all.
    bool showsInterim() const noexcept { return interim && (json || terminal); }

private:
    std::FILE* stream;
    bool json;
    bool interim;
    bool terminal;
    /// An interim line is on the terminal, waiting to be overwritten.
    bool lineOpen = false;
};

} // namespace corvane::cli
