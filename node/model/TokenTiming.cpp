#include "TokenTiming.h"

#include <algorithm>
#include <cmath>

namespace corvane::extensions::whisper {

namespace {

/// whisper.cpp counts time in centiseconds; times here are samples.
constexpr int64_t kSamplesPerCentisecond = WHISPER_SAMPLE_RATE / 100;
/// The signal's energy is its magnitude averaged over 65 samples (4 ms).
constexpr int64_t kEnergyHalfWindow = 32;
/// A token's threshold is half the mean energy from 1/8 s before it to 1/8 s
/// after it.
constexpr int64_t kEnergyContext = WHISPER_SAMPLE_RATE / 8;

/// whisper.cpp's guess at how long a token takes to say.
float voiceLength(const char* text)
{
    float length = 0.0f;
    for (; *text != '\0'; ++text) {
        const char c = *text;
        length += c == ' ' ? 0.01f : c == ',' ? 2.0f : (c == '.' || c == '!' || c == '?' || (c >= '0' && c <= '9')) ? 3.0f : 1.0f;
    }
    return length;
}

/// The loudness that decides where a segment's sound starts and ends: the
/// magnitude averaged over 20 ms, so that one loud click in a noisy pause
/// does not count.
constexpr int64_t kLoudnessHalfWindow = WHISPER_SAMPLE_RATE / 100;
/// A sound shorter than this on the far side of a pause this long from the
/// rest of a segment's speech is not part of it.
constexpr int64_t kIsolatedSound = WHISPER_SAMPLE_RATE * 2 / 5;
constexpr int64_t kPause = WHISPER_SAMPLE_RATE * 3 / 10;

} // namespace

double TokenTiming::meanMagnitude(int64_t from, int64_t to) const
{
    from = std::clamp<int64_t>(from, 0, sampleCount());
    to = std::clamp<int64_t>(to, from, sampleCount());
    return to > from ? (magnitudeSums[static_cast<std::size_t>(to)] - magnitudeSums[static_cast<std::size_t>(from)]) /
                           static_cast<double>(to - from)
                     : 0.0;
}

void TokenTiming::time(whisper_context* context, const float* samples, int64_t sampleCount, float tholdPt,
                       float tholdPtSum)
{
    magnitudeSums.resize(static_cast<std::size_t>(sampleCount) + 1);
    magnitudeSums[0] = 0.0;
    for (int64_t i = 0; i < sampleCount; ++i)
        magnitudeSums[static_cast<std::size_t>(i) + 1] = magnitudeSums[static_cast<std::size_t>(i)] + std::fabs(samples[i]);
    used = static_cast<std::size_t>(std::max(whisper_full_n_segments(context), 0));
    if (segments.size() < used)
        segments.resize(used);
    timestampBase = 0;
    lastEnd = 0;
    lastTimestamp = 0;
    int64_t speechEnd = 0;
    for (std::size_t i = 0; i < used; ++i) {
        const int segment = static_cast<int>(i);
        std::vector<TimedToken>& tokens = segments[i];
        tokens.clear();
        for (int t = 0; t < whisper_full_n_tokens(context, segment); ++t)
            tokens.push_back({whisper_full_get_token_data(context, segment, t), -1, -1});
        const int64_t start = whisper_full_get_segment_t0(context, segment) * kSamplesPerCentisecond;
        const int64_t end = whisper_full_get_segment_t1(context, segment) * kSamplesPerCentisecond;
        timeSegment(context, tokens, start, end, tholdPt, tholdPtSum);
        followEnergy(context, tokens);
        speechEnd = fitEdges(context, tokens, start, end, speechEnd);
    }
}

void TokenTiming::timeSegment(whisper_context* context, std::vector<TimedToken>& tokens, int64_t segmentStart,
                              int64_t segmentEnd, float tholdPt, float tholdPtSum)
{
    const std::size_t n = tokens.size();
    if (n == 0)
        return;
    if (n == 1) {
        tokens[0].start = segmentStart;
        tokens[0].end = segmentEnd;
        return;
    }

    // Tokens whose timestamp the model was sure of start there.
    const whisper_token begin = whisper_token_beg(context);
    voiceLengths.resize(n);
    for (std::size_t j = 0; j < n; ++j) {
        TimedToken& token = tokens[j];
        if (j == 0) {
            if (token.data.id == begin) {
                tokens[0].start = tokens[0].end = tokens[1].start = segmentStart;
                timestampBase = lastEnd = segmentStart;
                lastTimestamp = begin;
            } else {
                tokens[0].start = lastEnd;
            }
        }
        voiceLengths[j] = voiceLength(whisper_token_to_str(context, token.data.id));
        const int64_t said = timestampBase + 2 * (token.data.tid - begin) * kSamplesPerCentisecond;
        if (token.data.pt > tholdPt && token.data.ptsum > tholdPtSum && token.data.tid > lastTimestamp &&
            said <= segmentEnd) {
            if (j > 0)
                tokens[j - 1].end = said;
            token.start = said;
            lastTimestamp = token.data.tid;
        }
    }
    tokens[n - 2].end = segmentEnd;
    tokens[n - 1].start = tokens[n - 1].end = segmentEnd;
    lastEnd = segmentEnd;

    // The others share the time between known ones by their voice length.
    for (std::size_t p0 = 0, p1 = 0; p1 < n; p0 = ++p1) {
        while (p1 < n && tokens[p1].end < 0)
            ++p1;
        p1 = std::min(p1, n - 1);
        if (p1 <= p0)
            continue;
        double lengthSum = 0.0;
        for (std::size_t j = p0; j <= p1; ++j)
            lengthSum += voiceLengths[j];
        const double span = static_cast<double>(tokens[p1].end - tokens[p0].start);
        for (std::size_t j = p0 + 1; j <= p1 && lengthSum > 0.0; ++j) {
            const auto split = static_cast<int64_t>(static_cast<double>(tokens[j - 1].start) +
                                                    span * voiceLengths[j - 1] / lengthSum);
            tokens[j - 1].end = tokens[j].start = split;
        }
    }

    for (std::size_t j = 0; j + 1 < n; ++j) {
        if (tokens[j].end < 0)
            tokens[j + 1].start = tokens[j].end;
        if (j > 0 && tokens[j - 1].end > tokens[j].start) {
            tokens[j].start = tokens[j - 1].end;
            tokens[j].end = std::max(tokens[j].start, tokens[j].end);
        }
    }
}

void TokenTiming::followEnergy(whisper_context* context, std::vector<TimedToken>& tokens) const
{
    const int64_t n = sampleCount();
    if (n <= 0)
        return;
    // whisper.cpp's energy: the magnitude averaged over 65 samples, divided
    // by 65 at the edges too.
    const auto at = [this](int64_t k) {
        return static_cast<float>(meanMagnitude(k - kEnergyHalfWindow, k + kEnergyHalfWindow + 1) *
                                  static_cast<double>(std::min(k + kEnergyHalfWindow + 1, sampleCount()) -
                                                      std::max<int64_t>(k - kEnergyHalfWindow, 0)) /
                                  (2 * kEnergyHalfWindow + 1));
    };
    const whisper_token endOfText = whisper_token_eot(context);
    for (std::size_t j = 0; j < tokens.size(); ++j) {
        TimedToken& token = tokens[j];
        if (token.data.id >= endOfText)
            continue;
        int64_t s0 = std::clamp<int64_t>(token.start, 0, n - 1);
        int64_t s1 = std::clamp<int64_t>(token.end, 0, n - 1);
        const int64_t from = std::max<int64_t>(s0 - kEnergyContext, 0);
        const int64_t to = std::min<int64_t>(s1 + kEnergyContext, n);
        if (to <= from)
            continue;
        double sum = 0.0;
        for (int64_t k = from; k < to; ++k)
            sum += at(k);
        const auto threshold = static_cast<float>(0.5 * sum / static_cast<double>(to - from));

        // A start inside loud audio moves back to where it began; one in
        // quiet audio moves on to where the next sound begins.
        int64_t k = s0;
        if (at(k) > threshold && j > 0) {
            while (k > 0 && at(k) > threshold)
                --k;
            token.start = std::max(k, tokens[j - 1].end);
            if (token.start == k)
                s0 = k;
        } else {
            while (at(k) < threshold && k < s1)
                ++k;
            s0 = token.start = k;
        }

        // Likewise the end, forward to where the sound ends or back to it.
        k = s1;
        if (at(k) > threshold) {
            while (k < n - 1 && at(k) > threshold)
                ++k;
            token.end = j + 1 < tokens.size() ? std::min(k, tokens[j + 1].start) : k;
        } else {
            while (at(k) < threshold && k > s0)
                --k;
            token.end = k;
        }
    }
}


int64_t TokenTiming::fitEdges(whisper_context* context, std::vector<TimedToken>& tokens, int64_t segmentStart,
                              int64_t segmentEnd, int64_t previousEnd) const
{
    const whisper_token endOfText = whisper_token_eot(context);
    const auto text = [&](const TimedToken& token) { return token.data.id < endOfText; };
    const auto first = std::find_if(tokens.begin(), tokens.end(), text);
    const auto last = std::find_if(tokens.rbegin(), tokens.rend(), text);
    const int64_t n = sampleCount();
    if (first == tokens.end() || n <= 0)
        return previousEnd;

    // Loud is above half the segment's mean magnitude, which its speech
    // makes far louder than the pauses around it.
    const double threshold = 0.5 * meanMagnitude(segmentStart, segmentEnd);
    const auto loud = [&](int64_t k) {
        return meanMagnitude(k - kLoudnessHalfWindow, k + kLoudnessHalfWindow) > threshold;
    };

    // The first position from k on (step +1) or back (step -1) where
    // loud(position) is `wanted`, stopping at `limit`.
    const auto seek = [&](int64_t k, int64_t step, bool wanted, int64_t limit) {
        while (k != limit && loud(k) != wanted)
            k += step;
        return k;
    };

    int64_t start = std::clamp<int64_t>(first->start, 0, n - 1);
    const int64_t earliest = std::min(start, std::max({previousEnd, segmentStart - kEnergyContext, int64_t{0}}));
    const int64_t startLimit = std::clamp<int64_t>(segmentEnd, start, n - 1);
    if (loud(start)) {
        const int64_t quiet = seek(start, -1, false, earliest);
        start = loud(quiet) ? quiet : quiet + 1;
    } else {
        start = seek(start, 1, true, startLimit);
    }
    // A short sound and a pause after it are not the segment's beginning (a
    // breath, the noise after the sentence before).
    for (;;) {
        const int64_t silent = seek(start, 1, false, startLimit);
        const int64_t next = seek(silent, 1, true, startLimit);
        if (silent - start >= kIsolatedSound || next - silent < kPause || next >= startLimit)
            break;
        start = next;
    }

    int64_t end = std::clamp<int64_t>(last->end, start, n - 1);
    const int64_t latest = std::clamp<int64_t>(segmentEnd + kEnergyContext, end, n - 1);
    if (loud(end)) {
        const int64_t quiet = seek(end, 1, false, latest);
        end = loud(quiet) ? quiet : quiet - 1;
    } else {
        end = seek(end, -1, true, start);
    }
    for (;;) {
        const int64_t silent = seek(end, -1, false, start);
        const int64_t before = seek(silent, -1, true, start);
        if (end - silent >= kIsolatedSound || silent - before < kPause || before <= start)
            break;
        end = before;
    }

    // The tokens between keep their order inside the new edges.
    for (auto token = first; token != last.base(); ++token) {
        if (!text(*token))
            continue;
        token->start = std::clamp(token->start, start, end);
        token->end = std::clamp(token->end, token->start, end);
    }
    first->start = start;
    last->end = end;
    return end;
}

} // namespace corvane::extensions::whisper
