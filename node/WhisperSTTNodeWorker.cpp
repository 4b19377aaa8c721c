// The transcription worker: waits for a request, runs whisper.cpp over the
// requested window of the history, cleans the text and delivers it.

#include <algorithm>
#include <chrono>
#include <cmath>

#include <corvane/core/Logger.h>

#include "TranscriptCleanup.h"
#include "TranscriptionWindow.h"
#include "WhisperSTTNodeImpl.h"

namespace corvane::extensions::whisper {

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSinceEpoch(Clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::string describeWindow(uint32_t start, uint32_t end)
{
    // Appended piece by piece: GCC 12 at -O3 misreads `"[" + std::string`
    // as an overlapping copy (-Wrestrict).
    std::string text = "[";
    text += std::to_string(start);
    text += ", ";
    text += std::to_string(end);
    text += ')';
    return text;
}

/// Loudest sample magnitude that still counts as no signal: -60 dBFS.
constexpr float kSilenceLevel = 0.001f;

bool hasSignal(const float* samples, uint32_t count)
{
    return std::any_of(samples, samples + count, [](float sample) { return std::fabs(sample) >= kSilenceLevel; });
}

} // namespace

void WhisperSTTNode::Impl::workerLoop()
{
    if (stopRequested.load())
        return;

    for (;;) {
        bool requested = true;
        if (transcribeRequested.compare_exchange_strong(requested, false)) {
            // An exception leaving this thread would end the host process.
            try {
                runTranscription();
            } catch (const std::exception& error) {
                Logger::error(std::string("[WhisperSTTNode] Transcription failed: ") + error.what());
            }
        } else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));

        if (stopRequested.load())
            return;
    }
}

void WhisperSTTNode::Impl::runTranscription()
{
    std::unique_lock<std::mutex> lock(contextMutex);
    if (!context) {
        Logger::error("[WhisperSTTNode] Transcription triggered but no model is loaded.");
        return;
    }

    const Clock::time_point started = Clock::now();
    Logger::info("[LATENCY][WHISPER_START] timestamp=" + std::to_string(millisecondsSinceEpoch(started)));

    // The window is read after taking the lock, so a request posted meanwhile
    // is served with its own values.
    const uint64_t total = history->totalSamples();
    const uint32_t start = transcribeStart.load();
    const uint32_t end = transcribeEnd.load();

    // Placed against the retained 30 s, not the ring's extra second.
    const WindowPlacement window = placeWindow(start, end, historyAt(total, static_cast<uint32_t>(historyCapacity)));
    if (!window.valid) {
        Logger::warning("[WhisperSTTNode] Transcription window " + describeWindow(start, end) +
                        " holds no retained audio; request dropped.");
        return;
    }
    // The window's first sample lies this far back from the newest one; the
    // mirrored ring makes the whole window one contiguous block from there.
    // It is copied before anything else (logging takes a lock and calls the
    // application's sink), while the ring's margin still keeps the audio
    // thread away from it.
    const uint32_t sampleCount = window.paddedCount;
    const uint64_t distance = static_cast<uint32_t>(static_cast<uint32_t>(total) - window.firstIndex);
    const float* windowStart = history->window(history->ringPositionOf(total - distance));
    std::copy_n(windowStart, window.sampleCount, runSamples.begin());
    history->endRead();
    std::fill_n(runSamples.begin() + window.sampleCount, sampleCount - window.sampleCount, 0.0f);

    if (window.clampedStart || window.clampedEnd)
        Logger::warning("[WhisperSTTNode] Transcription window " + describeWindow(start, end) +
                        " reaches outside the retained audio; transcribing " +
                        describeWindow(window.firstIndex, window.endIndex) + ".");

    std::string text;
    if (!recognise(window.sampleCount, sampleCount, text))
        return;
    if (suppressNonSpeechAnnotations)
        text = cleanTranscription(text);
    lastTranscription = std::move(text);

    lock.unlock();
    const Clock::time_point finished = Clock::now();
    const long long processingTime =
        std::chrono::duration_cast<std::chrono::milliseconds>(finished - started).count();
    Logger::info("[LATENCY][WHISPER_END] timestamp=" + std::to_string(millisecondsSinceEpoch(finished)) +
                 " processingTime=" + std::to_string(processingTime) + "ms");

    if (onTranscribed)
        onTranscribed(lastTranscription, static_cast<int32_t>(processingTime));
}

bool WhisperSTTNode::Impl::recognise(uint32_t sampleCount, uint32_t paddedCount, std::string& text)
{
    text.clear();
    // Whisper hallucinates words ("you") from digital silence; a window with
    // no signal at all has nothing to say.
    if (!hasSignal(runSamples.data(), sampleCount)) {
        Logger::debug("[WhisperSTTNode] No signal in the window (below -60 dBFS); skipping recognition.");
        return true;
    }

    const float* samples = runSamples.data();
    if (voiceActivity) {
        switch (voiceActivity->extractSpeech(samples, sampleCount, kMinimumRunSamples)) {
        case VoiceActivityDetector::Outcome::NoSpeech:
            Logger::debug("[WhisperSTTNode] No speech in the window; skipping recognition.");
            return true;
        case VoiceActivityDetector::Outcome::Speech:
            samples = voiceActivity->speech().data();
            paddedCount = static_cast<uint32_t>(voiceActivity->speech().size());
            Logger::debug("[WhisperSTTNode] Voice activity: " + std::to_string(voiceActivity->spanCount()) +
                          " speech segments, " + std::to_string(paddedCount) + " samples to transcribe.");
            break;
        case VoiceActivityDetector::Outcome::Failed:
            Logger::error("[WhisperSTTNode] Voice-activity detection failed; transcribing the whole window.");
            break;
        }
    }

    params.audio_ctx = audioContextFor(paddedCount);
    Logger::debug("[WhisperSTTNode] Final processing buffer size: " + std::to_string(paddedCount) +
                  " samples, audio_ctx=" + std::to_string(params.audio_ctx));

    if (whisper_full(context.get(), params, samples, static_cast<int>(paddedCount)) != 0) {
        Logger::error("[WhisperSTTNode] Failed to process audio");
        return false;
    }

    const int segments = whisper_full_n_segments(context.get());
    for (int segment = 0; segment < segments; ++segment)
        text += whisper_full_get_segment_text(context.get(), segment);
    return true;
}

} // namespace corvane::extensions::whisper
