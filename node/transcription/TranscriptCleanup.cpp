#include "TranscriptCleanup.h"

#include <array>
#include <cstddef>

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

std::string removeAnnotations(const std::string& text)
{
    // An opening character with no closer anywhere after it stays; knowing the
    // last closer of each kind up front turns that into an O(1) test, so a
    // text of unclosed openers costs linear time rather than quadratic.
    const std::array<std::size_t, 3> lastCloser { text.rfind(']'), text.rfind(')'), text.rfind('*') };
    auto lastOf = [&](char closer) {
        return lastCloser[closer == ']' ? 0 : closer == ')' ? 1 : 2];
    };

    std::string out;
    out.reserve(text.size());
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
        out.push_back(text[i]);
        ++i;
    }
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

} // namespace

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

} // namespace corvane::extensions::whisper
