#pragma once

#include <string>
#include <vector>

#include "Transcription.h"

namespace corvane::extensions::whisper {

/// Removes what whisper.cpp writes besides speech, and returns "" when no
/// speech is left. Thread-safe; never throws for any input other than out of
/// memory, and its cost is linear in the input length.
///
/// In order:
///  1. drops every annotation: "[...]", "(...)" or "*...*", each ending at the
///     first closing character after its opening one (no nesting); an opening
///     character without a closing one stays;
///  2. drops the music notes U+2669, U+266A, U+266B and U+266C;
///  3. turns every run of white space (space, \t, \n, \v, \f, \r) into one space;
///  4. drops trailing white space (a leading space stays);
///  5. returns "" unless an ASCII letter or digit or a byte >= 0x80 is left.
///
/// The result is byte for byte what std::regex_replace gives with the ECMAScript
/// patterns \[[^\]]*\]|\([^)]*\)|\*[^*]*\*, then ♩|♪|♫|♬ and then \s+, but
/// without std::regex, whose recursive matcher overflows the stack on runs of a
/// few tens of thousands of characters.
std::string cleanTranscription(const std::string& text);

/// Cleans each segment's text by the same rule, and its words by what the
/// rule keeps of the segment's words together (an annotation spread over
/// several words goes with all of them); segments and words left without
/// speech are dropped.
void cleanSegments(std::vector<TranscribedSegment>& segments);

/// Whether the text is caught in a loop: one word four times in a row, or a
/// run of two to four words three times in a row (letters and digits
/// compared, case aside). whisper.cpp falls into such loops on a second or
/// less of audio, where no temperature fallback saves it.
bool repeatsItself(const std::string& text);

/// Whether four words in a row come twice in the text (compared as above).
/// Rare in what one person says in one breath, common where whisper.cpp
/// starts over on audio that stops mid-sentence ("And so my fellow
/// American. And so my fellow Americans").
bool repeatsAPhrase(const std::string& text);

} // namespace corvane::extensions::whisper
