#include "TranscriptFormats.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace corvane::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<const char*, 5> kFormatNames{"txt", "srt", "vtt", "json", "tsv"};

long long toMilliseconds(double seconds)
{
    return std::max(0LL, std::llround(seconds * 1000.0));
}

/// Seconds rounded to the millisecond, as JSON shows them.
double shownSeconds(double seconds)
{
    return static_cast<double>(toMilliseconds(seconds)) / 1000.0;
}

/// The length of a valid UTF-8 sequence at text[i], or 0.
std::size_t sequenceAt(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                             : lead >= 0xF0 && lead < 0xF5                  ? 4 : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    const unsigned char second = length > 1 ? byte(i + 1) : 0x80;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

std::string validUtf8(const std::string& text)
{
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = sequenceAt(text, i);
        valid += length > 0 ? text.substr(i, length) : "\xEF\xBF\xBD";
        i += std::max<std::size_t>(length, 1);
    }
    return valid;
}

/// Characters, not bytes, so a line limit means the same in any script.
std::size_t characterCount(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string clockTime(long long milliseconds, char separator)
{
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld", milliseconds / 3600000, milliseconds / 60000 % 60,
                  milliseconds / 1000 % 60, separator, milliseconds % 1000);
    return text;
}

/// A segment's lines of at most maxLength characters, each with its time.
void splitSegment(const TimedSegment& segment, std::size_t maxLength, std::vector<Cue>& cues)
{
    // Without word times every word gets the segment's time in proportion to
    // its characters.
    std::vector<TimedWord> words = segment.words;
    if (words.empty()) {
        std::size_t from = 0;
        const double perCharacter =
            (segment.end - segment.start) / static_cast<double>(std::max<std::size_t>(characterCount(segment.text), 1));
        while (from < segment.text.size()) {
            const std::size_t space = std::min(segment.text.find(' ', from), segment.text.size());
            const double start = segment.start + perCharacter * static_cast<double>(characterCount(segment.text.substr(0, from)));
            const std::string word = segment.text.substr(from, space - from);
            words.push_back({word, start, start + perCharacter * static_cast<double>(characterCount(word)), 0.0});
            from = space + 1;
        }
    }
    const long long first = toMilliseconds(segment.start), last = toMilliseconds(segment.end);
    const auto within = [&](double seconds) { return std::clamp(toMilliseconds(seconds), first, last); };
    Cue line;
    for (const TimedWord& word : words) {
        if (word.text.empty())
            continue;
        if (!line.text.empty() && characterCount(line.text) + 1 + characterCount(word.text) > maxLength) {
            cues.push_back(line);
            line.text.clear();
        }
        if (line.text.empty())
            line.startMs = within(word.start);
        line.text += (line.text.empty() ? "" : " ") + word.text;
        line.endMs = within(word.end);
    }
    if (!line.text.empty())
        cues.push_back(line);
}

Json wordJson(const TimedWord& word)
{
    return Json{{"text", word.text},
                {"start", shownSeconds(word.start)},
                {"end", shownSeconds(word.end)},
                {"probability", word.probability}};
}

Json utteranceJson(const TimedUtterance& utterance)
{
    Json segments = Json::array();
    for (const TimedSegment& segment : utterance.segments) {
        Json entry{{"start", shownSeconds(segment.start)},
                   {"end", shownSeconds(segment.end)},
                   {"text", segment.text},
                   {"probability", segment.probability},
                   {"noSpeechProbability", segment.noSpeechProbability}};
        if (utterance.withWords) {
            entry["words"] = Json::array();
            for (const TimedWord& word : segment.words)
                entry["words"].push_back(wordJson(word));
        }
        segments.push_back(std::move(entry));
    }
    Json json{{"start", shownSeconds(utterance.start)},
              {"end", shownSeconds(utterance.end)},
              {"text", utterance.text},
              {"processingTime", utterance.processingTimeMs},
              {"segments", std::move(segments)}};
    if (!utterance.language.empty()) {
        json["language"] = utterance.language;
        json["languageProbability"] = std::round(utterance.languageProbability * 1000.0) / 1000.0;
    }
    if (utterance.final) {
        json["final"] = *utterance.final;
        if (!*utterance.final)
            json["stableText"] = utterance.stableText;
    }
    return json;
}

std::string dump(const Json& json, int indent = -1)
{
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

} // namespace

const char* nameOf(OutputFormat format) noexcept
{
    return kFormatNames[static_cast<std::size_t>(format)];
}

std::optional<OutputFormat> outputFormatNamed(const std::string& name) noexcept
{
    for (std::size_t i = 0; i < kFormatNames.size(); ++i)
        if (name == kFormatNames[i])
            return static_cast<OutputFormat>(i);
    return std::nullopt;
}

std::vector<Cue> makeCues(const std::vector<TimedUtterance>& utterances, std::size_t maxLineLength)
{
    std::vector<Cue> pieces;
    for (const TimedUtterance& utterance : utterances)
        for (const TimedSegment& segment : utterance.segments) {
            if (segment.text.empty())
                continue;
            if (maxLineLength > 0 && characterCount(segment.text) > maxLineLength)
                splitSegment(segment, maxLineLength, pieces);
            else
                pieces.push_back({toMilliseconds(segment.start), toMilliseconds(segment.end), segment.text});
        }

    std::vector<Cue> cues;
    for (Cue& cue : pieces) {
        if (!cues.empty())
            cue.startMs = std::max(cue.startMs, cues.back().endMs);
        if (cue.endMs <= cue.startMs && !cues.empty()) {
            cues.back().text += " " + cue.text;
            continue;
        }
        cue.endMs = std::max(cue.endMs, cue.startMs + 1);
        cues.push_back(std::move(cue));
    }
    return cues;
}

std::string formatSrt(const std::vector<Cue>& cues)
{
    std::string out;
    for (std::size_t i = 0; i < cues.size(); ++i)
        out += std::to_string(i + 1) + "\n" + clockTime(cues[i].startMs, ',') + " --> " +
               clockTime(cues[i].endMs, ',') + "\n" + validUtf8(cues[i].text) + "\n\n";
    return out;
}

std::string formatVtt(const std::vector<Cue>& cues)
{
    std::string out = "WEBVTT\n\n";
    for (const Cue& cue : cues) {
        // A cue's text may not hold "-->", "<" or a bare "&".
        std::string text;
        for (const char c : validUtf8(cue.text))
            text += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
        out += clockTime(cue.startMs, '.') + " --> " + clockTime(cue.endMs, '.') + "\n" + text + "\n\n";
    }
    return out;
}

std::string formatTsv(const std::vector<Cue>& cues)
{
    std::string out = "start\tend\ttext\n";
    for (const Cue& cue : cues) {
        std::string text = validUtf8(cue.text);
        std::replace_if(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
        out += std::to_string(cue.startMs) + "\t" + std::to_string(cue.endMs) + "\t" + text + "\n";
    }
    return out;
}

std::string formatTxt(const std::vector<Cue>& cues)
{
    std::string out;
    for (const Cue& cue : cues)
        out += validUtf8(cue.text) + "\n";
    return out;
}

std::string formatJsonDocument(const std::string& file, const std::vector<TimedUtterance>& utterances)
{
    Json document{{"file", file}, {"utterances", Json::array()}};
    for (const TimedUtterance& utterance : utterances)
        document["utterances"].push_back(utteranceJson(utterance));
    return dump(document, 2) + "\n";
}

std::string formatDocument(OutputFormat format, const std::string& file,
                           const std::vector<TimedUtterance>& utterances, std::size_t maxLineLength)
{
    if (format == OutputFormat::Json)
        return formatJsonDocument(file, utterances);
    const std::vector<Cue> cues = makeCues(utterances, maxLineLength);
    switch (format) {
    case OutputFormat::Srt: return formatSrt(cues);
    case OutputFormat::Vtt: return formatVtt(cues);
    case OutputFormat::Tsv: return formatTsv(cues);
    default: return formatTxt(cues);
    }
}

std::string formatJsonUtterance(const std::string& file, const TimedUtterance& utterance)
{
    Json line{{"file", file}};
    line.update(utteranceJson(utterance));
    return dump(line);
}

} // namespace corvane::cli
