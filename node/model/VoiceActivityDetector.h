#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <whisper.h>

namespace corvane::extensions::whisper {

/// Frees a whisper.cpp voice-activity context.
struct WhisperVadContextDeleter {
    void operator()(whisper_vad_context* context) const noexcept { whisper_vad_free(context); }
};

/// One stretch of speech in a window, in 16 kHz samples from the window's start.
struct SpeechSpan {
    int32_t start = 0;
    int32_t end = 0;
};

/// whisper.cpp's own rule for turning a window into the audio it transcribes
/// when voice-activity detection is on: each span is copied with the next
/// `overlapSamples` of audio after it (not after the last one), spans are
/// separated by `gapSamples` of silence, and no span reaches the window's last
/// sample. `joined` is resized to the result (it keeps its capacity); an empty
/// result means nothing was left to transcribe.
void joinSpeech(const float* samples, int32_t sampleCount, const std::vector<SpeechSpan>& spans,
                int32_t overlapSamples, int32_t gapSamples, std::vector<float>& joined);

/// The Silero voice-activity model and the buffers its runs need.
///
/// Threads: created, used and destroyed by whoever holds the node's
/// contextMutex (a model load, or the worker during a run); never shared.
class VoiceActivityDetector {
public:
    enum class Outcome { Speech, NoSpeech, Failed };

    /// Silence whisper.cpp puts between joined spans (0.1 s).
    static constexpr int32_t kGapSamples = WHISPER_SAMPLE_RATE / 10;

    /// Loads the Silero model at `path` to run on one CPU thread; null when
    /// whisper.cpp cannot load it. Buffers are sized for windows of up to
    /// `longestWindow` samples, so runs do not allocate them again.
    static std::unique_ptr<VoiceActivityDetector> load(const std::string& path, const whisper_vad_params& params,
                                                       uint32_t longestWindow);

    /// Finds the speech in `samples` and, when there is some, joins it into
    /// speech() the way whisper.cpp does, padded with silence to at least
    /// minimumLength samples.
    Outcome extractSpeech(const float* samples, uint32_t sampleCount, uint32_t minimumLength);

    /// The joined speech of the last run that found some.
    const std::vector<float>& speech() const noexcept { return joined; }
    /// How many speech spans the last run found.
    std::size_t spanCount() const noexcept { return spans.size(); }

private:
    VoiceActivityDetector(whisper_vad_context* context, const whisper_vad_params& params, uint32_t longestWindow);

    std::unique_ptr<whisper_vad_context, WhisperVadContextDeleter> context;
    whisper_vad_params params;
    std::vector<SpeechSpan> spans;
    std::vector<float> joined;
};

} // namespace corvane::extensions::whisper
