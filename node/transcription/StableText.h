#pragma once

#include <string>
#include <vector>

namespace corvane::extensions::whisper {

/// The stable part of an utterance's interim texts, by local agreement of
/// two: the words that two interim results in a row begin with are not going
/// to change, and once stable they stay stable, so what a display shows as
/// settled never shrinks.
///
/// Threads: one owner (the node's worker).
class StableText {
public:
    /// A new utterance: nothing is stable.
    void restart();
    /// Takes the newest interim text and returns the stable text so far.
    const std::string& update(const std::string& text);
    const std::string& text() const noexcept { return stableText; }

private:
    std::vector<std::string> previous;
    std::vector<std::string> stable;
    std::string stableText;
};

} // namespace corvane::extensions::whisper
