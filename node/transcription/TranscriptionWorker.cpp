#include "TranscriptionWorker.h"

#include <algorithm>

#include <corvane/core/Logger.h>

#include "AudioIntake.h"
#include "TranscriptCleanup.h"
#include "TranscriptionWindow.h"

namespace corvane::extensions::whisper {

namespace {

/// How much of the previous utterance's text goes into the next run's prompt.
constexpr std::size_t kPromptCharacters = 200;

long long millisecondsSinceEpoch(std::chrono::steady_clock::time_point time)
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

/// The last `count` bytes of text, not starting inside a UTF-8 character.
std::string tailOf(const std::string& text, std::size_t count)
{
    std::size_t from = text.size() > count ? text.size() - count : 0;
    while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80)
        ++from;
    return text.substr(from);
}

} // namespace

TranscriptionWorker::TranscriptionWorker(const AudioIntake& intake, ModelSlot& model, TranscriptionRequests& requests,
                                         const Options& options, Delivery deliver)
    : intake(intake)
    , model(model)
    , requests(requests)
    , cleanAnnotations(options.cleanAnnotations)
    , deliver(std::move(deliver))
    , runSamples(AudioIntake::kHistoryCapacity, 0.0f)
{
    if (options.utterances.enabled)
        finder = std::make_unique<UtteranceFinder>(intake, options.utterances);
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
        // An exception leaving this thread would end the host process.
        bool served = false;
        try {
            if (requests.take()) {
                serveRequest();
                served = true;
            } else if (finder) {
                served = serveUtterance();
            }
        } catch (const std::exception& error) {
            Logger::error(std::string("[WhisperSTTNode] Transcription failed: ") + error.what());
        }
        if (!served)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TranscriptionWorker::serveRequest()
{
    ModelSlot::Run recogniser = model.beginRun();
    if (!recogniser.hasModel()) {
        Logger::error("[WhisperSTTNode] Transcription triggered but no model is loaded.");
        return;
    }
    const Clock::time_point started = Clock::now();
    Logger::info("[LATENCY][WHISPER_START] timestamp=" + std::to_string(millisecondsSinceEpoch(started)));
    // Read after taking the lock, so a request posted meanwhile is served
    // with its own values.
    transcribe(recogniser, requests.window(), started, true);
}

bool TranscriptionWorker::serveUtterance()
{
    if (const auto restart = requests.takeUtteranceRestart()) {
        finder->restartAt(*restart);
        previousText.clear();
    }
    finder->examine();
    if (const auto end = requests.utteranceEnd()) {
        finder->finish(*end);
        requests.settleUtteranceEnd(*end);
    }

    const std::optional<SpeechWindow> utterance = finder->next();
    if (!utterance)
        return false;
    // Whatever happens to the run, the utterance is no longer pending.
    struct Done {
        UtteranceFinder& finder;
        ~Done() { finder.done(); }
    } done{*finder};

    ModelSlot::Run recogniser = model.beginRun();
    if (!recogniser.hasModel()) {
        Logger::debug("[WhisperSTTNode] An utterance ended but no model is loaded; it is dropped.");
        return true;
    }
    const Clock::time_point started = Clock::now();
    Logger::info("[LATENCY][WHISPER_START] timestamp=" + std::to_string(millisecondsSinceEpoch(started)));
    Logger::debug("[WhisperSTTNode] Transcribing the utterance [" + std::to_string(utterance->start) + ", " +
                  std::to_string(utterance->end) + ").");
    transcribe(recogniser, {static_cast<uint32_t>(utterance->start), static_cast<uint32_t>(utterance->end)}, started,
               false);
    return true;
}

void TranscriptionWorker::transcribe(ModelSlot::Run& recogniser, TranscriptionRequests::Window requested,
                                     Clock::time_point started, bool deliverEmpty)
{
    // The window is copied before anything else (logging takes a lock and
    // calls the application's sink).
    const WindowPlacement window = intake.readWindow(requested.start, requested.end, runSamples.data());
    const uint64_t total = intake.totalSamples();
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

    const bool utterance = !deliverEmpty;
    const std::string* prompt = utterance && !previousText.empty() ? &previousText : nullptr;
    Transcription result;
    if (!recogniser.recognise(runSamples.data(), window.sampleCount, window.paddedCount, prompt, result))
        return;
    if (cleanAnnotations) {
        result.text = cleanTranscription(result.text);
        cleanSegments(result.segments);
    }
    recogniser.end();

    const Clock::time_point finished = Clock::now();
    const long long processingTime = std::chrono::duration_cast<std::chrono::milliseconds>(finished - started).count();
    Logger::info("[LATENCY][WHISPER_END] timestamp=" + std::to_string(millisecondsSinceEpoch(finished)) +
                 " processingTime=" + std::to_string(processingTime) + "ms");

    if (utterance)
        previousText = tailOf(result.text, kPromptCharacters);
    if (result.text.empty() && !deliverEmpty) {
        Logger::debug("[WhisperSTTNode] No words in the utterance; nothing to deliver.");
        return;
    }
    result.processingTimeMs = static_cast<int32_t>(processingTime);
    result.start = absoluteIndexNear(total, window.firstIndex);
    result.end = absoluteIndexNear(total, window.endIndex);
    placeSegmentsAt(result.start, result.segments);
    if (deliver)
        deliver(result);
}

} // namespace corvane::extensions::whisper
