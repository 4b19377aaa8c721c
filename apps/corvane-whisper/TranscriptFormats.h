#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "TimedTranscript.h"

namespace corvane::cli {

/// The documents `transcribe --output-format` writes for a source.
enum class OutputFormat { Txt, Srt, Vtt, Json, Tsv };

/// "txt", "srt", "vtt", "json", "tsv": the name on the command line and the
/// file extension.
const char* nameOf(OutputFormat format) noexcept;
std::optional<OutputFormat> outputFormatNamed(const std::string& name) noexcept;

/// One subtitle: times in whole milliseconds from the source's start.
struct Cue {
    long long startMs = 0;
    long long endMs = 0;
    std::string text;
};

/// One cue per segment, in order. With maxLineLength > 0, a segment longer
/// than that many characters becomes several cues, cut at word boundaries
/// and timed by its words (by its characters when it has no word times). A
/// cue never starts before the previous one ends; one that would end by then
/// joins the previous one.
std::vector<Cue> makeCues(const std::vector<TimedUtterance>& utterances, std::size_t maxLineLength);

/// The documents, exactly as written. Text that is not valid UTF-8 (a token
/// may end inside a character) has its bad bytes replaced by U+FFFD.
std::string formatSrt(const std::vector<Cue>& cues); ///< SubRip: HH:MM:SS,mmm
std::string formatVtt(const std::vector<Cue>& cues); ///< WebVTT: HH:MM:SS.mmm
std::string formatTsv(const std::vector<Cue>& cues); ///< start, end (ms), text
std::string formatTxt(const std::vector<Cue>& cues); ///< a line per cue
/// {"file": ..., "utterances": [...]}: every field of every utterance,
/// segment and word, times in seconds.
std::string formatJsonDocument(const std::string& file, const std::vector<TimedUtterance>& utterances);

std::string formatDocument(OutputFormat format, const std::string& file,
                           const std::vector<TimedUtterance>& utterances, std::size_t maxLineLength);

/// An utterance as a JSON object (what `--json` prints a line of, and the
/// JSON document lists).
std::string formatJsonUtterance(const std::string& file, const TimedUtterance& utterance);

} // namespace corvane::cli
