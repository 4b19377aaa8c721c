#pragma once

#include <cstdio>
#include <string>

#include "TimedTranscript.h"
#include "TranscriptionQueue.h"
#include "WindowSchedule.h"

namespace corvane::cli {

class TranscriptDocuments;

/// "mm:ss.mmm", rounded to the millisecond; minutes grow past two digits
/// rather than wrap.
std::string formatTimestamp(double seconds);

/// The text without the space whisper.cpp puts in front (and any at the end).
std::string trimText(const std::string& text);

/// "[mm:ss.mmm --> mm:ss.mmm]"
std::string formatWindowTimes(const WindowSchedule::Window& window);

/// "[mm:ss.mmm --> mm:ss.mmm]  text"
std::string formatTextLine(const WindowSchedule::Window& window, const std::string& text);

/// Writes one line per window to a stream, flushed at once so a reader sees
/// each window as it is transcribed, and hands each final window to the
/// documents when there are any. Lines are text, or JSON objects with every
/// field of the event ("file", "start", "end", "text", "processingTime",
/// "segments", and "language" when detected), times in seconds from the
/// start of the source. With interim text: JSON lines say "final" and carry
/// "stableText"; a terminal shows the interim text dimmed on the line that
/// the final text then overwrites; plain text elsewhere leaves it out.
class TranscriptPrinter {
public:
    /// Without `documents`, or when they take the stream, no lines are written.
    TranscriptPrinter(std::FILE* stream, bool json, TranscriptDocuments* documents = nullptr, bool interim = false);

    void print(const std::string& file, const WindowSchedule::Window& window, const Transcription& transcription);
    /// Whether interim text reaches the stream at all.
    bool showsInterim() const noexcept { return interim && (json || terminal); }

private:
    std::FILE* stream;
    bool json;
    bool lines;
    TranscriptDocuments* documents;
    bool interim;
    bool terminal;
    /// An interim line is on the terminal, waiting to be overwritten.
    bool lineOpen = false;
};

} // namespace corvane::cli
