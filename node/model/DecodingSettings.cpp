#include "DecodingSettings.h"

#include <algorithm>
#include <thread>

namespace corvane::extensions::whisper {

int32_t DecodingSettings::defaultThreadCount()
{
    // hardware_concurrency() may report 0 when it cannot tell.
    const auto hardwareThreads = static_cast<int32_t>(std::thread::hardware_concurrency());
    return std::clamp(hardwareThreads, 1, 4);
}

whisper_full_params DecodingSettings::makeRecognitionParams() const
{
    whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);

    params.n_threads = threadCount;
    params.max_tokens = maxTokens;
    params.n_max_text_ctx = maxTokens;
    params.audio_ctx = audioContext;
    params.single_segment = singleSegment;
    params.translate = translate;
    if (noFallback)
        params.temperature_inc = 0.0f;
    params.print_special = printSpecial;
    params.no_timestamps = noTimestamps;
    params.print_timestamps = !noTimestamps;
    params.tdrz_enable = tinydiarize;
    params.suppress_nst = suppressNonSpeechTokens;
    params.suppress_blank = blankSuppression;
    params.language = language.c_str();

    // The node finds the speech itself (VoiceActivityDetector); whisper.cpp's
    // own path would make a four-thread Silero context on the first run.
    params.vad = false;
    params.vad_params.threshold = vadParams.threshold;
    params.vad_params.min_speech_duration_ms = vadParams.minSpeechDurationMs;
    params.vad_params.min_silence_duration_ms = vadParams.minSilenceDurationMs;
    params.vad_params.max_speech_duration_s = vadParams.maxSpeechDurationS;
    params.vad_params.speech_pad_ms = vadParams.speechPadMs;
    params.vad_params.samples_overlap = vadParams.samplesOverlap;

    params.print_progress = false;
    params.print_realtime = false;
    // No prompt: nothing is carried from one run into the next.
    params.prompt_tokens = nullptr;
    params.prompt_n_tokens = 0;
    return params;
}

} // namespace corvane::extensions::whisper
