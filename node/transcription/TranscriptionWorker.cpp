#include "TranscriptionWorker.h"

#include <algorithm>

#include <corvane/core/Logger.h>

#include "AudioIntake.h"
#include "TranscriptCleanup.h"
#include "TranscriptionWindow.h"

namespace corvane::extensions::whisper {

namespace {

/// No interim text before the utterance under way is this long (lead-in
/// included): whisper.cpp makes words up out of less.
constexpr uint64_t kShortestPartialSamples = 12800;
/// Interim runs decode at most this many tokens a second of audio, plus a
/// few: more than anyone says, and a bound on a loop that whisper.cpp may
/// fall into on short audio.
constexpr int kInterimTokensPerSecond = 8;
constexpr int kInterimExtraTokens = 4;
/// How often an interim run looks for new audio, to give up for a final.
constexpr std::chrono::milliseconds kUrgencyCheckInterval{20};

long long millisecondsSinceEpoch(std::chrono::steady_clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

/// The text less its last word. Interim audio ends where the microphone
/// has got to, often inside a word, which the next run then hears whole: the
/// word that changes most is the last one.
std::string withoutLastWord(const std::string& text)
{
    const std::size_t end = text.find_last_not_of(' ');
    const std::size_t space = end == std::string::npos ? std::string::npos : text.find_last_of(' ', end);
    if (space == std::string::npos)
        return {};
    const std::size_t kept = text.find_last_not_of(' ', space);
    return kept == std::string::npos ? std::string() : text.substr(0, kept + 1);
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
                                         const Options& options, Deliveries deliveries)
    : intake(intake)
    , model(model)
    , requests(requests)
    , cleanAnnotations(options.cleanAnnotations)
    , deliveries(std::move(deliveries))
    , partials(options.utterances.partials && this->deliveries.partial)
    , partialInterval(options.utterances.partialInterval)
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
            if (serving)
                fail(std::string("Transcription failed: ") + error.what());
        }
        serving.reset();
        if (!served)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TranscriptionWorker::serveRequest()
{
    ModelSlot::Run recogniser = model.beginRun();
    const Clock::time_point started = Clock::now();
    // Read after taking the lock, so a request posted meanwhile is served
    // with its own values.
    const TranscriptionRequests::Window requested = requests.window();
    const uint64_t total = intake.totalSamples();
    serving = Serving{started, absoluteIndexNear(total, requested.start), absoluteIndexNear(total, requested.end)};
    if (!recogniser.hasModel()) {
        Logger::error("[WhisperSTTNode] Transcription triggered but no model is loaded.");
        fail("No model is loaded");
        return;
    }
    Logger::info("[LATENCY][WHISPER_START] timestamp=" + std::to_string(millisecondsSinceEpoch(started)));
    transcribe(recogniser, requested, started, true);
}

bool TranscriptionWorker::serveUtterance()
{
    if (const auto restart = requests.takeUtteranceRestart())
        finder->restartAt(*restart);
    finder->examine();
    if (const auto end = requests.utteranceEnd()) {
        finder->finish(*end);
        requests.settleUtteranceEnd(*end);
    }

    const std::optional<SpeechWindow> utterance = finder->next();
    if (!utterance)
        return partials && servePartial();
    // Whatever happens to the run, the utterance is no longer pending.
    struct Done {
        UtteranceFinder& finder;
        ~Done() { finder.done(); }
    } done{*finder};

    ModelSlot::Run recogniser = model.beginRun();
    const Clock::time_point started = Clock::now();
    serving = Serving{started, utterance->start, utterance->end};
    if (!recogniser.hasModel()) {
        Logger::debug("[WhisperSTTNode] An utterance ended but no model is loaded; it is dropped.");
        fail("No model is loaded");
        return true;
    }
    Logger::info("[LATENCY][WHISPER_START] timestamp=" + std::to_string(millisecondsSinceEpoch(started)));
    Logger::debug("[WhisperSTTNode] Transcribing the utterance [" + std::to_string(utterance->start) + ", " +
                  std::to_string(utterance->end) + ").");
    transcribe(recogniser, {static_cast<uint32_t>(utterance->start), static_cast<uint32_t>(utterance->end)}, started,
               false, settledStartOf(*utterance));
    return true;
}

std::string TranscriptionWorker::settledStartOf(const SpeechWindow& utterance) const
{
    // Words shown as settled are not taken back by the final text. An
    // utterance cut at the longest window may end before some of them.
    if (!partials || utterance.start != partialUtteranceStart || utterance.end < stableHeardBy)
        return {};
    return stable.text();
}

bool TranscriptionWorker::servePartial()
{
    const std::optional<SpeechWindow> open = finder->openUtterance();
    if (!open || open->length() < kShortestPartialSamples)
        return false;
    const Clock::time_point now = Clock::now();
    if (open->start != partialUtteranceStart) {
        partialUtteranceStart = open->start;
        stable.restart();
        stableHeardBy = 0;
        previousPartialEnd = 0;
        nextPartialAt = now;
    }
    if (now < nextPartialAt)
        return false;
    nextPartialAt = now + partialInterval;

    ModelSlot::Run recogniser = model.beginRun();
    if (!recogniser.hasModel())
        return false;
    const WindowPlacement window =
        intake.readWindow(static_cast<uint32_t>(open->start), static_cast<uint32_t>(open->end), runSamples.data());
    if (!window.valid)
        return false;
    std::fill_n(runSamples.begin() + window.sampleCount, window.paddedCount - window.sampleCount, 0.0f);

    RecognitionOptions options;
    options.smallContext = true;
    options.maxTokens = kInterimExtraTokens +
                        static_cast<int>(kInterimTokensPerSecond * window.sampleCount / AudioIntake::kSampleRate);
    options.knownStart = stable.text();
    options.abort = &TranscriptionWorker::urgentWorkWaits;
    options.abortData = this;
    lastUrgencyCheck = now;
    Logger::debug("[WhisperSTTNode] Interim run of the utterance [" + std::to_string(open->start) + ", " +
                  std::to_string(open->end) + ").");
    Transcription interim;
    if (!recogniser.recognise(runSamples.data(), window.sampleCount, window.paddedCount, options, interim))
        return true;
    recogniser.end();
    PartialTranscription result;
    const std::string heard = cleanAnnotations ? cleanTranscription(interim.text) : interim.text;
    // A loop, or a start over, is no text to show, and none to agree on: the
    // next interim run or the final says what was said.
    if (repeatsItself(heard) || repeatsAPhrase(heard))
        return true;
    result.text = withoutLastWord(heard);
    if (result.text.empty())
        return true;
    const std::size_t stableBefore = stable.text().size();
    result.stableText = stable.update(result.text);
    if (result.stableText.size() > stableBefore)
        stableHeardBy = previousPartialEnd;
    previousPartialEnd = open->end;
    // One word heard on its own at the start of an utterance is the guess
    // that most often changes ("Howdy" for "Had he"); it still counts towards
    // agreement, but is not shown.
    if (result.stableText.empty() && result.text.find(' ') == std::string::npos)
        return true;
    result.processingTimeMs =
        static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - now).count());
    result.start = open->start;
    result.end = open->end;
    deliveries.partial(result);
    return true;
}

bool TranscriptionWorker::urgentWorkWaits(void* self)
{
    auto& worker = *static_cast<TranscriptionWorker*>(self);
    // A restart must come before the audio after it is looked at.
    const TranscriptionRequests& requests = worker.requests;
    if (worker.stopRequested.load() || requests.isPending() || requests.utteranceRestartPending() ||
        requests.utteranceEnd().has_value())
        return true;
    // whisper.cpp asks between every step of its graph; looking for the end
    // of the utterance costs little, but not that little.
    const Clock::time_point now = Clock::now();
    if (now - worker.lastUrgencyCheck >= kUrgencyCheckInterval) {
        worker.lastUrgencyCheck = now;
        worker.finder->examine();
    }
    return worker.finder->hasEnded();
}

void TranscriptionWorker::transcribe(ModelSlot::Run& recogniser, TranscriptionRequests::Window requested,
                                     Clock::time_point started, bool deliverEmpty, const std::string& knownStart)
{
    // The window is copied before anything else (logging takes a lock and
    // calls the application's sink).
    const WindowPlacement window = intake.readWindow(requested.start, requested.end, runSamples.data());
    const uint64_t total = intake.totalSamples();
    if (!window.valid) {
        Logger::warning("[WhisperSTTNode] Transcription window " + describeWindow(requested.start, requested.end) +
                        " holds no retained audio; request dropped.");
        fail("The window holds no retained audio");
        return;
    }
    std::fill_n(runSamples.begin() + window.sampleCount, window.paddedCount - window.sampleCount, 0.0f);

    if (window.clampedStart || window.clampedEnd)
        Logger::warning("[WhisperSTTNode] Transcription window " + describeWindow(requested.start, requested.end) +
                        " reaches outside the retained audio; transcribing " +
                        describeWindow(window.firstIndex, window.endIndex) + ".");

    Transcription result;
    RecognitionOptions options;
    options.knownStart = knownStart;
    if (!recogniser.recognise(runSamples.data(), window.sampleCount, window.paddedCount, options, result)) {
        fail("whisper.cpp failed to process the audio: " + recogniser.failure());
        return;
    }
    if (cleanAnnotations) {
        result.text = cleanTranscription(result.text);
        cleanSegments(result.segments);
    }
    result.language = recogniser.detectedLanguage();
    result.languageProbability = recogniser.detectedLanguageProbability();
    recogniser.end();

    const Clock::time_point finished = Clock::now();
    const long long processingTime = std::chrono::duration_cast<std::chrono::milliseconds>(finished - started).count();
    Logger::info("[LATENCY][WHISPER_END] timestamp=" + std::to_string(millisecondsSinceEpoch(finished)) +
                 " processingTime=" + std::to_string(processingTime) + "ms");

    if (result.text.empty() && !deliverEmpty) {
        Logger::debug("[WhisperSTTNode] No words in the utterance; nothing to deliver.");
        return;
    }
    result.processingTimeMs = static_cast<int32_t>(processingTime);
    result.start = absoluteIndexNear(total, window.firstIndex);
    result.end = absoluteIndexNear(total, window.endIndex);
    placeSegmentsAt(result.start, result.segments);
    if (deliveries.final)
        deliveries.final(result);
}

void TranscriptionWorker::fail(const std::string& error)
{
    TranscriptionFailure failure;
    failure.error = error;
    failure.processingTimeMs = static_cast<int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - serving->started).count());
    failure.start = serving->start;
    failure.end = serving->end;
    if (deliveries.failure)
        deliveries.failure(failure);
}

} // namespace corvane::extensions::whisper
