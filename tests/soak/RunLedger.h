#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace corvane::test {

/// What a node's worker did with the requests it took, read back from the
/// node's log lines in the order they were written.
///
/// A request the worker takes ends in exactly one of: a run that starts
/// ([LATENCY][WHISPER_START]) or a "no model" drop. A started run ends in
/// exactly one of: [LATENCY][WHISPER_END] followed by its delivery line, a
/// whisper.cpp failure, a window that holds no retained audio, or an exception
/// caught by the worker. Anything out of that order is a problem.
struct RunLedger {
    std::size_t started = 0;
    std::size_t finished = 0;
    std::size_t delivered = 0;       ///< "[WhisperSTTNode] Transcription: " lines
    std::size_t failed = 0;          ///< whisper.cpp refused the run
    std::size_t windowDrops = 0;     ///< the window held no retained audio
    std::size_t noModelDrops = 0;
    std::size_t exceptions = 0;      ///< runs ended by an exception
    std::size_t skips = 0;           ///< default "transcribe" calls that posted nothing
    std::vector<std::string> problems;

    /// Requests the worker took.
    std::size_t taken() const { return started + noModelDrops; }
    /// A run has started and not yet ended (or ended without its delivery).
    bool runOpen() const { return open; }

    static RunLedger read(const std::vector<std::string>& lines);

private:
    bool open = false;
};

} // namespace corvane::test
