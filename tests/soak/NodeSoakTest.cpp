// The node under everything at once, one lifetime after another: an audio thread at changing rates and block sizes,
// two control threads calling every action with good and bad arguments (model reloads included), and the node
// destroyed during a run, right after a request, or idle. Requests may collapse into one run, but none may be lost
// without a trace, nothing may hang, and the audio thread must stay allocation- and lock-free.
// CORVANE_SOAK_SECONDS (default 20) sets how long it runs; CORVANE_SOAK_SEED repeats an earlier run's choices.
// tests/rtsan builds it a second time against LLVM's RealtimeSanitizer, which then watches the steady blocks.

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <csignal>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include <corvane/core/Logger.h>

#include "AllocationCounter.h"
#include "AudioIntake.h"
#include "ModelSlot.h"
#include "TranscriptionRequests.h"
#include "TranscriptionWorker.h"
#include "WhisperSTTNode.h"

namespace corvane::test {
namespace {

#if defined(CORVANE_REALTIME_SANITIZER)
extern "C" void __rtsan_realtime_enter();
extern "C" void __rtsan_realtime_exit();
extern "C" const char* __rtsan_default_options() { return "halt_on_error=1"; } // LLVM 19 halts anyway

/// Marks the thread realtime the way a host marks its audio callback: any allocation, lock, sleep or blocking call
/// meanwhile ends the process with a report.
struct AudioThreadWatch {
    void start() { __rtsan_realtime_enter(); }
    void stop() { __rtsan_realtime_exit(); }
    std::size_t count() const { return 0; }
    std::size_t lockCount() const { return 0; }
};

// Without this the soak could pass merely because the runtime is not linked in or not watching.
TEST(RealtimeSanitizer, AnAllocationOrALockInTheRealtimeScopeEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::mutex mutex;
    EXPECT_DEATH((AudioThreadWatch().start(), ::operator delete(::operator new(16))), "Real-time violation");
    EXPECT_DEATH((AudioThreadWatch().start(), mutex.lock()), "Real-time violation");
}
#else
using AudioThreadWatch = AllocationCounter;

// The counter's zeros prove nothing unless it sees what it is asked to count.
TEST(AllocationCounter, SeesADeliberateAllocationAndLock)
{
    AllocationCounter counter;
    std::mutex mutex;
    counter.start();
    ::operator delete(::operator new(16));
    mutex.lock();
    mutex.unlock();
    counter.stop();
    EXPECT_EQ(counter.count(), 1u);
    EXPECT_EQ(counter.lockCount(), AllocationCounter::countsMutexLocks() ? 1u : 0u);
}
#endif

using extensions::whisper::WhisperSTTNode;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
const std::string kModel = CORVANE_TEST_DATA_DIR "/for-tests-ggml-tiny.en.bin";

// A hang ends the process naming the step it hung in, instead of stalling CI. 180 s is more than any run on the
// weight-less model takes under a sanitizer on a loaded machine.
char hungStep[80];
void arm(int lifetime, const char* step)
{
    std::snprintf(hungStep, sizeof hungStep, "\nWATCHDOG: lifetime %d hung in %s\n", lifetime, step);
    std::signal(SIGALRM, [](int) { std::fputs(hungStep, stderr), std::abort(); });
    alarm(180);
}

std::mutex logMutex;
std::vector<std::string> logLines;

/// The worker's log read back. A taken request starts a run or is dropped for want of a model; a started run ends in
/// exactly one of: END then its delivery, a whisper.cpp failure, or a window with no retained audio.
struct Ledger {
    std::size_t started = 0, finished = 0, delivered = 0, noModel = 0, skips = 0;
    bool open = false;
    std::vector<std::string> problems;

    static Ledger read()
    {
        enum { Idle, Running, Delivering } stage = Idle;
        Ledger ledger;
        std::lock_guard lock(logMutex);
        for (const std::string& line : logLines) {
            auto next = [&](bool inOrder, decltype(stage) following) {
                if (!inOrder)
                    ledger.problems.push_back("out of order: " + line);
                stage = following;
            };
            auto is = [&](const char* prefix) { return line.starts_with(prefix); };
            if (is("[LATENCY][WHISPER_START]"))
                ++ledger.started, next(stage == Idle, Running);
            else if (is("[LATENCY][WHISPER_END]"))
                ++ledger.finished, next(stage == Running, Delivering);
            else if (is("[WhisperSTTNode] Transcription: "))
                ++ledger.delivered, next(stage == Delivering, Idle);
            else if (is("[WhisperSTTNode] Failed to process audio") || line.ends_with("; request dropped."))
                next(stage == Running, Idle);
            else if (is("[WhisperSTTNode] Transcription failed: ")) // a run raised; the worker caught it
                ledger.problems.push_back(line), next(stage != Idle, Idle);
            else if (is("[WhisperSTTNode] Transcription triggered but no model is loaded."))
                ++ledger.noModel, next(stage == Idle, Idle);
            else if (line.ends_with("no new audio since last commit, skipping."))
                ++ledger.skips;
        }
        ledger.open = stage != Idle;
        return ledger;
    }
};

/// Plays the host's audio thread: mono blocks of 1 to 8192 frames (spread over their logarithm, so both ends come up
/// often) at rates that change every 0.2 to 2 s among 8 to 96 kHz, counting what steady blocks allocate and lock.
struct AudioFeeder {
    WhisperSTTNode& node;
    std::mt19937 random;
    float noise[8192] = {};
    double rate = 0, lastRate = 0, secondsLeftAtRate = 0;
    uint64_t blocks = 0, steadyBlocks = 0, allocations = 0, locks = 0, counterMismatches = 0;

    double feedOneBlock()
    {
        constexpr double kRates[] = {8000, 16000, 22050, 44100, 48000, 96000};
        if (secondsLeftAtRate <= 0)
            rate = kRates[random() % 6], secondsLeftAtRate = std::uniform_real_distribution(0.2, 2.0)(random);
        const auto frames = std::min<uint32_t>(8192, std::exp(std::uniform_real_distribution(0.0, std::log(8193.0))(random)));
        std::generate_n(noise, frames, [&] { return static_cast<float>(random() % 400) / 1000 - 0.2f; });
        AudioBus bus;
        bus.setBuffer(AudioBuffer<float>(noise, frames, rate));
        // The block that changes the rate sets the resampler up again, and the first delivery starts the worker:
        // both allocate by design.
        const bool steady = rate == lastRate && node.transcriptionWorker().started();
        AudioThreadWatch watch;
        if (steady)
            watch.start();
        node.consume(bus);
        if (steady)
            watch.stop(), ++steadyBlocks, allocations += watch.count(), locks += watch.lockCount();
        ++blocks, lastRate = rate, secondsLeftAtRate -= frames / rate;
        counterMismatches += node.audioIntake().totalSamples() != node.audioIntake().framesDelivered();
        return frames / rate;
    }

    /// At real time, as a sound card delivers; one that fell behind (a slow sanitizer build) catches up 100 ms at most.
    void feedPaced(std::stop_token stop)
    {
        for (Clock::time_point due = Clock::now(); !stop.stop_requested(); std::this_thread::sleep_until(due)) {
            due += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(feedOneBlock()));
            due = std::max(due, Clock::now() - 100ms);
        }
    }
};

/// Plays an application's control thread: every action, with good and bad arguments, a few dozen times a second.
/// Returns the "transcribe" calls accepted.
uint64_t control(WhisperSTTNode& node, uint32_t seed, std::stop_token stop)
{
    std::mt19937 random(seed);
    uint64_t accepted = 0;
    auto uniform = [&](int64_t low, int64_t high) { return std::uniform_int_distribution(low, high)(random); };
    auto window = [](int64_t start, int64_t end) {
        auto toInt = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
        return CVAnyMap{{"start", toInt(start)}, {"end", toInt(end)}};
    };
    auto transcribe = [&](const CVAnyMap& params, bool valid) {
        const Result<CVAny> result = node.callAction("transcribe", params);
        const std::string error = result.isOk() ? "" : result.getError().getMessage();
        accepted += result.isOk();
        EXPECT_TRUE(result.isOk() ? valid
                                  : error == "[WhisperSTTNode] No model loaded; call 'loadModel' first." ||
                                        (!valid && error.starts_with("[WhisperSTTNode] Invalid transcribe window: ")))
            << CVAny(params).toString() << ": " << (result.isOk() ? "accepted" : error);
    };
    for (; !stop.stop_requested(); std::this_thread::sleep_for(1ms * (random() % 40))) {
        const auto total = static_cast<int64_t>(node.audioIntake().totalSamples());
        const int64_t a = uniform(0, total + 1000), b = uniform(1, 100000), old = std::max<int64_t>(0, total - uniform(0, 640000));
        const int64_t choice = uniform(0, 99);
        if (choice < 35)
            transcribe({}, true);
        else if (choice < 55) // anywhere in the last 40 s, so older than the history now and then
            transcribe(window(old, old + b % 64000 + 1), true);
        else if (choice < 63) // in the future, or at the top of the index range
            transcribe(choice % 2 ? window(total + b, total + 2 * b) : window(INT32_MAX - b, INT32_MAX), true);
        else if (choice < 75) // across a 2^32 wrap (valid), reversed in wrap-around order, empty, reversed
            transcribe(std::array{window(-b, a), window(a, -b), window(a, a), window(a + b, a)}[choice % 4], choice % 4 == 0);
        else if (choice < 90)
            EXPECT_TRUE(node.callAction("resetTranscribeWindow", {}).isOk());
        else if (choice < 95)
            EXPECT_TRUE(node.callAction("loadModel", {{"modelPath", kModel}}).isOk());
        else // a file that is not a model, or none at all
            EXPECT_TRUE(node.callAction("loadModel", {{"modelPath", kModel + (choice % 2 ? ".txt" : "x")}}).hasError());
    }
    return accepted;
}

bool waitFor(auto condition)
{
    for (const auto deadline = Clock::now() + 170s; !condition(); std::this_thread::sleep_for(5ms))
        if (Clock::now() > deadline)
            return false;
    return true;
}

/// No request pending and no run open, and still so after several of the worker's polls (a request it has just
/// taken shows in the log only once its run starts).
bool waitUntilIdle(WhisperSTTNode& node)
{
    auto idle = [&] { return !node.transcriptionRequests().isPending() && !Ledger::read().open; };
    return waitFor([&] { return idle() && (std::this_thread::sleep_for(100ms), idle()); });
}

/// A default request once new audio has come after a reset (which brings the commit point to now).
bool requestNewAudio(WhisperSTTNode& node)
{
    const uint64_t before = node.audioIntake().totalSamples();
    return node.callAction("resetTranscribeWindow", {}).isOk() &&
           waitFor([&] { return node.audioIntake().totalSamples() >= before + 3200; }) &&
           node.callAction("transcribe", {}).isOk();
}

void runLifetime(int index, uint32_t seed, std::chrono::duration<double> busy)
{
    SCOPED_TRACE("lifetime " + std::to_string(index) + ", seed " + std::to_string(seed));
    {
        std::lock_guard lock(logMutex);
        logLines.clear();
    }
    arm(index, "construction and pre-roll");
    auto node = std::make_unique<WhisperSTTNode>(
        CVAnyMap{{"modelPath", kModel}, {"useGPU", false}, {"numberOfThreads", 1 + static_cast<int>(seed % 2)}});
    // Counted outside the node, so the events of a run that the destructor waits for are counted too.
    auto events = std::make_shared<std::atomic<uint64_t>>(0);
    node->addListener("transcribed", [events](const std::string&, const CVAny&) { ++*events; });
    AudioFeeder feeder{*node, std::mt19937(seed)};
    // Every other lifetime starts with a full history, so windows reach past its oldest sample and the ring wraps
    // while runs read it.
    for (double fed = 0; fed < (index % 2 ? 31.0 : 0.0);)
        fed += feeder.feedOneBlock();
    std::jthread audio([&](std::stop_token stop) { feeder.feedPaced(stop); });
    std::atomic<uint64_t> accepted = 1 + (index % 3 != 2); // with the requests below
    {
        arm(index, "audio and actions");
        std::jthread first([&](std::stop_token stop) { accepted += control(*node, seed + 1, stop); });
        std::jthread second([&](std::stop_token stop) { accepted += control(*node, seed + 2, stop); });
        std::this_thread::sleep_for(busy);
    }

    // Once the actions stop, one more accepted request is answered (not necessarily by exactly one event: a worker
    // stalled between taking an earlier request and starting its run serves this window twice).
    arm(index, "the last request");
    ASSERT_TRUE(node->modelSlot().isReady() || node->callAction("loadModel", {{"modelPath", kModel}}).isOk());
    ASSERT_TRUE(waitUntilIdle(*node)) << "a request was never taken, or a run never ended";
    const uint64_t eventsBefore = *events;
    ASSERT_TRUE(requestNewAudio(*node));
    ASSERT_TRUE(waitFor([&] { return *events > eventsBefore; })) << "the last request was never answered";
    ASSERT_TRUE(waitUntilIdle(*node));

    arm(index, "destruction");
    const std::size_t startedBefore = Ledger::read().started;
    // Destroyed during a run (0), right after a request (1), or idle (2).
    ASSERT_TRUE(index % 3 == 2 || requestNewAudio(*node));
    ASSERT_TRUE(index % 3 != 0 || waitFor([&] { return Ledger::read().started > startedBefore; }));
    audio.request_stop();
    audio.join();
    EXPECT_EQ(node->audioIntake().totalSamples(), node->audioIntake().framesDelivered());
    node.reset();
    alarm(0);

    const Ledger ledger = Ledger::read();
    for (const std::string& problem : ledger.problems)
        ADD_FAILURE() << "log: " << problem;
    EXPECT_FALSE(ledger.open) << "the node was destroyed with a run unfinished";
    // Every finished run is delivered exactly once. Requests collapse and a reload clears a pending one, so runs
    // may be fewer than requests, but never more.
    EXPECT_EQ(ledger.delivered, ledger.finished);
    EXPECT_EQ(*events, ledger.finished);
    EXPECT_LE(ledger.started + ledger.noModel + ledger.skips, accepted);
    EXPECT_GT(feeder.steadyBlocks, 0u);
    EXPECT_EQ(feeder.allocations, 0u) << "the audio thread allocated in steady state";
    EXPECT_EQ(feeder.locks, 0u) << "the audio thread took a lock in steady state";
    EXPECT_EQ(feeder.counterMismatches, 0u) << "the history's sample count strayed from the resampler's output";
    std::cout << "[ soak ] lifetime " << index << ": " << feeder.blocks << " blocks, " << ledger.started << " runs, "
              << ledger.finished << " delivered\n";
}

TEST(NodeSoak, SurvivesAudioActionsReloadsAndDestructionAtOnce)
{
    const char* secondsText = std::getenv("CORVANE_SOAK_SECONDS");
    const double seconds = secondsText ? std::atof(secondsText) : 20;
    const char* seedText = std::getenv("CORVANE_SOAK_SEED");
    const uint32_t seed = seedText ? std::strtoul(seedText, nullptr, 10) : std::random_device{}();
    std::cout << "[ soak ] " << seconds << " s, CORVANE_SOAK_SEED=" << seed << "\n";
    std::ofstream(kModel + ".txt") << "not a model\n";
    whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr); // its loading chatter buries the output
    Logger::setLevel(LogLevel::Debug);
    Logger::setSink([](LogLevel, const std::string& line) {
        std::lock_guard lock(logMutex);
        logLines.push_back(line);
    });
    // Each lifetime spends about as long again on its final checks as it spends busy.
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    std::mt19937 random(seed);
    for (int index = 0; (index < 3 || Clock::now() < end) && !::testing::Test::HasFailure(); ++index)
        runLifetime(index, random(), std::chrono::duration<double>(std::clamp(seconds / 8, 2.0, 30.0)));
    Logger::setSink(nullptr);
    Logger::setLevel(LogLevel::Info);
    whisper_log_set(nullptr, nullptr);
}

} // namespace
} // namespace corvane::test
