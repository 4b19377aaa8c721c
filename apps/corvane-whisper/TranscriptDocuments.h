#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "TranscriptFormats.h"

namespace corvane::cli {

/// What `transcribe --output-format` asked for.
struct DocumentSettings {
    std::vector<OutputFormat> formats; ///< empty: no documents, only the lines
    std::string outputDirectory;       ///< empty: the first format to stdout
    std::size_t maxLineLength = 0;     ///< 0: one cue per segment
};

/// Gathers a source's utterances and, once the source is done, writes its
/// documents: each format to DIR/<the source's name>.<format>, whole or not
/// at all, or the first one to a stream.
///
/// Threads: the control thread only.
class TranscriptDocuments {
public:
    TranscriptDocuments(DocumentSettings settings, std::FILE* stream);

    bool active() const noexcept { return !settings.formats.empty(); }
    /// The documents take the stream, so the lines must not.
    bool writesToStream() const noexcept { return active() && settings.outputDirectory.empty(); }

    /// Before anything is transcribed: makes the output folder if needed and
    /// checks that it takes files, and that no two sources would write the
    /// same file. Raises CommandError saying what is wrong.
    void prepare(const std::vector<std::string>& sources) const;
    /// The file a source's document in `format` goes to.
    std::string pathFor(const std::string& source, OutputFormat format) const;

    void add(const TimedUtterance& utterance) { utterances.push_back(utterance); }
    /// Writes the source's documents and starts afresh. Raises CommandError
    /// when a file cannot be written; none is left half-written.
    void finishSource(const std::string& source);

private:
    DocumentSettings settings;
    std::FILE* stream;
    std::vector<TimedUtterance> utterances;
};

} // namespace corvane::cli
