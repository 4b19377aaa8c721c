#include "TranscriptCleanup.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <vector>

namespace corvane::extensions::whisper {

namespace {

bool isWhiteSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isSpeech(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

char closerOf(char opener)
{
    switch (opener) {
    case '[': return ']';
    case '(': return ')';
    case '*': return '*';
    default: return '\0';
    }
}

/// Calls keep(i) for the index of every byte of `text` outside annotations,
/// in order.
template <typename Keep>
void forEachUnannotated(const std::string& text, Keep keep)
{
    // An opening character with no closer anywhere after it stays; knowing the
    // last closer of each kind up front turns that into an O(1) test, so a
    // text of unclosed openers costs linear time rather than quadratic.
    const std::array<std::size_t, 3> lastCloser { text.rfind(']'), text.rfind(')'), text.rfind('*') };
    auto lastOf = [&](char closer) {
        return lastCloser[closer == ']' ? 0 : closer == ')' ? 1 : 2];
    };

    std::size_t i = 0;
    while (i < text.size()) {
        const char closer = closerOf(text[i]);
        if (closer != '\0') {
            const std::size_t last = lastOf(closer);
            if (last != std::string::npos && last > i) {
                i = text.find(closer, i + 1) + 1;
                continue;
            }
        }
        keep(i);
        ++i;
    }
}

std::string removeAnnotations(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    forEachUnannotated(text, [&](std::size_t i) { out.push_back(text[i]); });
    return out;
}

bool isMusicNoteAt(const std::string& text, std::size_t i)
{
    // U+2669..U+266C in UTF-8: E2 99 A9..AC.
    if (i + 3 > text.size())
        return false;
    const auto b0 = static_cast<unsigned char>(text[i]);
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    const auto b2 = static_cast<unsigned char>(text[i + 2]);
    return b0 == 0xE2 && b1 == 0x99 && b2 >= 0xA9 && b2 <= 0xAC;
}

std::string removeMusicNotes(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (isMusicNoteAt(text, i)) {
            i += 3;
            continue;
        }
        out.push_back(text[i]);
        ++i;
    }
    return out;
}

std::string collapseWhiteSpace(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    bool inRun = false;
    for (const char c : text) {
        if (isWhiteSpace(static_cast<unsigned char>(c))) {
            if (!inRun)
                out.push_back(' ');
            inRun = true;
        } else {
            out.push_back(c);
            inRun = false;
        }
    }
    return out;
}

/// Cleans words by what the rule keeps of the text they make up together, so
/// that an annotation spread over several words goes with all of them.
void cleanWords(std::vector<TranscribedWord>& words)
{
    std::string joined;
    for (const TranscribedWord& word : words)
        joined += word.text;
    std::vector<bool> kept(joined.size(), false);
    forEachUnannotated(joined, [&](std::size_t i) { kept[i] = true; });
    for (std::size_t i = 0; i < joined.size(); ++i)
        if (kept[i] && isMusicNoteAt(joined, i))
            kept[i] = kept[i + 1] = kept[i + 2] = false;

    std::size_t offset = 0;
    std::vector<TranscribedWord> cleaned;
    for (TranscribedWord& word : words) {
        std::string part;
        for (std::size_t i = offset; i < offset + word.text.size(); ++i)
            if (kept[i])
                part.push_back(joined[i]);
        offset += word.text.size();
        word.text = cleanTranscription(part);
        if (!word.text.empty())
            cleaned.push_back(std::move(word));
    }
    words = std::move(cleaned);
}

} // namespace

void cleanSegments(std::vector<TranscribedSegment>& segments)
{
    std::erase_if(segments, [](TranscribedSegment& segment) {
        segment.text = cleanTranscription(segment.text);
        cleanWords(segment.words);
        return segment.text.empty();
    });
}

std::string cleanTranscription(const std::string& text)
{
    std::string cleaned = collapseWhiteSpace(removeMusicNotes(removeAnnotations(text)));

    std::size_t end = cleaned.size();
    while (end > 0 && isWhiteSpace(static_cast<unsigned char>(cleaned[end - 1])))
        --end;
    cleaned.resize(end);

    for (const char c : cleaned)
        if (isSpeech(static_cast<unsigned char>(c)))
            return cleaned;
    return {};
}

namespace {

/// The text's words, letters and digits only, in lower case.
std::vector<std::string> comparableWords(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : text + ' ') {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || byte >= 0x80 || c == '\'')
            word += static_cast<char>(std::tolower(byte));
        else if (std::isspace(byte) && !word.empty())
            words.push_back(std::move(word)), word.clear();
    }
    return words;
}

bool sameWords(const std::vector<std::string>& words, std::size_t a, std::size_t b, std::size_t count)
{
    return std::equal(words.begin() + static_cast<std::ptrdiff_t>(a),
                      words.begin() + static_cast<std::ptrdiff_t>(a + count),
                      words.begin() + static_cast<std::ptrdiff_t>(b));
}

} // namespace

bool repeatsItself(const std::string& text)
{
    const std::vector<std::string> words = comparableWords(text);
    for (std::size_t unit = 1; unit <= 4; ++unit) {
        const std::size_t needed = unit == 1 ? 4 : 3;
        for (std::size_t i = 0; i + needed * unit <= words.size(); ++i) {
            std::size_t copies = 1;
            while (copies < needed && sameWords(words, i, i + copies * unit, unit))
                ++copies;
            if (copies == needed)
                return true;
        }
    }
    return false;
}

bool repeatsAPhrase(const std::string& text)
{
    constexpr std::size_t kPhrase = 4;
    const std::vector<std::string> words = comparableWords(text);
    for (std::size_t first = 0; first + 2 * kPhrase <= words.size(); ++first)
        for (std::size_t second = first + kPhrase; second + kPhrase <= words.size(); ++second)
            if (sameWords(words, first, second, kPhrase))
                return true;
    return false;
}

} // namespace corvane::extensions::whisper
