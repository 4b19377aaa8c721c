#include "TranscriptionWorker.h"

#include <algorithm>
#include <chrono>

#include <corvane/core/Logger.h>

#include "AudioIntake.h"
#include "ModelSlot.h"
#include "TranscriptCleanup.h"
#include "TranscriptionRequests.h"
#include "TranscriptionWindow.h"

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

} // namespace

TranscriptionWorker::TranscriptionWorker(const AudioIntake& intake, ModelSlot& model, TranscriptionRequests& requests,
                                         bool cleanAnnotations, Delivery deliver)
    : intake(intake)
    , model(model)
    , requests(requests)
    , cleanAnnotations(cleanAnnotations)
    , deliver(std::move(deliver))
    , runSamples(AudioIntake::kHistoryCapacity, 0.0f)
{
}

TranscriptionWorker::~TranscriptionWorker()
{
    stop();
}

void TranscriptionWorker::start() noexcept
{
    if (startCalled)
        return;
    startCalled = true;
    try {
        thread = std::thread([this] { loop(); });
    } catch (const std::exception& error) {
        Logger::error(std::string("[WhisperSTTNode] Could not start the transcription worker: ") + error.what());
    }
}

void TranscriptionWorker::stop()
{
    if (stopRequested.exchange(true))
        return;
    if (thread.joinable())
        thread.join();
}

void TranscriptionWorker::loop()
{
    while (!stopRequested.load()) {
        if (requests.take()) {
            // An exception leaving this thread would end the host process.
            try {
                run();
            } catch (const std::exception& error) {
                Logger::error(std::string("[WhisperSTTNode] Transcription failed: ") + error.what());
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

void TranscriptionWorker::run()
{
    ModelSlot::Run recogniser = model.beginRun();
    if (!recogniser.hasModel()) {
        Logger::error("[WhisperSTTNode] Transcription triggered but no model is loaded.");
        return;
    }

    const Clock::time_point started = Clock::now();
    Logger::info("[LATENCY][WHISPER_START] timestamp=" + std::to_string(millisecondsSinceEpoch(started)));

    // Read after taking the lock, so a request posted meanwhile is served
    // with its own values. The window is copied before anything else
    // (logging takes a lock and calls the application's sink).
    const TranscriptionRequests::Window requested = requests.window();
    const WindowPlacement window = intake.readWindow(requested.start, requested.end, runSamples.data());
    if (!window.valid) {
        Logger::warning("[WhisperSTTNode] Transcription window " + describeWindow(requested.start, requested.end) +
                        " holds no retained audio; request dropped.");
        return;
    }
    std::fill_n(runSamples.begin() + window.sampleCount, window.paddedCount - window.sampleCount, 0.0f);

    if (window.clampedStart || window.clampedEnd)
        Logger::warning("[WhisperSTTNode] Transcription window " + describeWindow(requested.start, requested.end) +
                        " reaches outside the retained audio; transcribing " +
                        describeWindow(window.firstIndex, window.endIndex) + ".");

    std::string text;
    if (!recogniser.recognise(runSamples.data(), window.sampleCount, window.paddedCount, text))
        return;
    if (cleanAnnotations)
        text = cleanTranscription(text);
    recogniser.end();

    const Clock::time_point finished = Clock::now();
    const long long processingTime =
        std::chrono::duration_cast<std::chrono::milliseconds>(finished - started).count();
    Logger::info("[LATENCY][WHISPER_END] timestamp=" + std::to_string(millisecondsSinceEpoch(finished)) +
                 " processingTime=" + std::to_string(processingTime) + "ms");

    if (deliver)
        deliver(text, static_cast<int32_t>(processingTime));
}

} // namespace corvane::extensions::whisper
