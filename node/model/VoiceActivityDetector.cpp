#include "VoiceActivityDetector.h"

#include <algorithm>
#include <cstring>

namespace corvane::extensions::whisper {

namespace {

/// whisper.cpp reports span bounds in centiseconds; it rounds them back to
/// samples this way.
int32_t centisecondsToSamples(float centiseconds)
{
    return static_cast<int32_t>((centiseconds / 100.0) * WHISPER_SAMPLE_RATE + 0.5);
}

} // namespace

void joinSpeech(const float* samples, int32_t sampleCount, const std::vector<SpeechSpan>& spans,
                int32_t overlapSamples, int32_t gapSamples, std::vector<float>& joined)
{
    joined.clear();
    if (sampleCount <= 0)
        return;
    const int32_t lastSample = sampleCount - 1;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const bool last = i + 1 == spans.size();
        const int32_t start = std::clamp(spans[i].start, 0, lastSample);
        int32_t end = std::min(spans[i].end, lastSample);
        if (!last)
            end = std::min(end + overlapSamples, lastSample);
        if (end <= start)
            continue;

        // The buffer only grows after clear(), so the gap that resize()
        // appends after the speech is already silence.
        const auto length = static_cast<std::size_t>(end - start);
        const std::size_t gap = last ? 0 : static_cast<std::size_t>(gapSamples);
        joined.resize(offset + length + gap, 0.0f);
        std::memcpy(joined.data() + offset, samples + start, length * sizeof(float));
        offset += length + gap;
    }
    joined.resize(offset);
}

std::unique_ptr<VoiceActivityDetector> VoiceActivityDetector::load(const std::string& path,
                                                                   const whisper_vad_params& params,
                                                                   uint32_t longestWindow)
{
    // whisper.cpp's default of four threads stalls a small machine for many
    // seconds; Silero is a small recurrent net that one thread runs fastest.
    whisper_vad_context_params contextParams = whisper_vad_default_context_params();
    contextParams.n_threads = 1;
    contextParams.use_gpu = false;
    whisper_vad_context* context = whisper_vad_init_from_file_with_params(path.c_str(), contextParams);
    if (context == nullptr)
        return nullptr;
    return std::unique_ptr<VoiceActivityDetector>(new VoiceActivityDetector(context, params, longestWindow));
}

VoiceActivityDetector::VoiceActivityDetector(whisper_vad_context* context, const whisper_vad_params& params,
                                             uint32_t longestWindow)
    : context(context), params(params)
{
    spans.reserve(256);
    // Joined speech can outgrow its window by an overlap and a gap per span;
    // spans are at least min_speech_duration_ms long, so twice the window
    // holds any real result.
    joined.reserve(2 * static_cast<std::size_t>(longestWindow));
}

VoiceActivityDetector::Outcome VoiceActivityDetector::extractSpeech(const float* samples, uint32_t sampleCount,
                                                                    uint32_t minimumLength)
{
    const auto count = static_cast<int32_t>(sampleCount);
    if (!whisper_vad_detect_speech(context.get(), samples, count))
        return Outcome::Failed;
    whisper_vad_segments* segments = whisper_vad_segments_from_probs(context.get(), params);
    if (segments == nullptr)
        return Outcome::Failed;

    spans.clear();
    const int segmentCount = whisper_vad_segments_n_segments(segments);
    for (int i = 0; i < segmentCount; ++i)
        spans.push_back({centisecondsToSamples(whisper_vad_segments_get_segment_t0(segments, i)),
                         centisecondsToSamples(whisper_vad_segments_get_segment_t1(segments, i))});
    whisper_vad_free_segments(segments);

    const auto overlap = static_cast<int32_t>(params.samples_overlap * WHISPER_SAMPLE_RATE);
    joinSpeech(samples, count, spans, overlap, kGapSamples, joined);
    if (joined.empty())
        return Outcome::NoSpeech;
    if (joined.size() < minimumLength)
        joined.resize(minimumLength, 0.0f);
    return Outcome::Speech;
}

} // namespace corvane::extensions::whisper
