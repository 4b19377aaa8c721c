// The node under everything at once: an audio thread at changing rates and
// block sizes, two control threads calling every action (model reloads with
// good and bad paths included), and nodes destroyed while they work, one
// lifetime after another. Requests may collapse into one run, but none may be
// lost without a trace, nothing may hang, and the audio thread must stay
// allocation- and lock-free throughout.
//
// CORVANE_SOAK_SECONDS (default 20) sets how long it runs; CORVANE_SOAK_SEED
// repeats the random choices of an earlier run (it prints its seed).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "LogCapture.h"
#include "NodeTestSupport.h"
#include "RunLedger.h"
#include "SoakAudioThread.h"
#include "SoakControlThread.h"
#include "Watchdog.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/// Long enough for any run on the weight-less model under a sanitizer on a
/// loaded machine; only a hang takes longer.
constexpr std::chrono::seconds kPatience{180};

double soakSeconds()
{
    const char* text = std::getenv("CORVANE_SOAK_SECONDS");
    const double seconds = text != nullptr ? std::atof(text) : 0.0;
    return seconds > 0.0 ? seconds : 20.0;
}

uint32_t soakSeed()
{
    if (const char* text = std::getenv("CORVANE_SOAK_SEED"))
        return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    return std::random_device{}();
}

/// How a lifetime ends.
enum class Ending { DuringARun, RightAfterARequest, Idle };

/// One node from construction to destruction, and what the test saw of it.
class Lifetime {
public:
    Lifetime(int index, uint32_t seed, LogCapture& log, Watchdog& watchdog)
        : index(index), seed(seed), log(log), watchdog(watchdog)
    {
    }

    void run(std::chrono::duration<double> busy)
    {
        std::mt19937 random(seed);
        const Ending ending = static_cast<Ending>(index % 3);
        const int threads = 1 + static_cast<int>(random() % 2);
        // Every other lifetime starts with a full history, so that windows
        // reach past its oldest sample and the ring wraps while runs read it.
        const double preRoll = index % 2 == 1 ? 31.0 : 0.0;
        SCOPED_TRACE("lifetime " + std::to_string(index) + ", seed " + std::to_string(seed) + ", " +
                     std::to_string(threads) + " thread(s)");

        log.clear();
        watchdog.arm("lifetime " + std::to_string(index) + ": construction and pre-roll", kPatience);
        CVAnyMap extra{{"numberOfThreads", threads}};
        if (random() % 2 == 0)
            extra.set("maxTokens", 8);
        auto node = std::make_unique<WhisperSTTNode>(testModelConfig(extra));
        WhisperSTTNode::Impl& state = node->getImpl();

        // Counted outside the node, so the events of a run that the
        // destructor waits for are counted too.
        auto events = std::make_shared<std::atomic<uint64_t>>(0);
        auto callbacks = std::make_shared<std::atomic<uint64_t>>(0);
        node->addListener("transcribed", [events](const std::string&, const CVAny&) { ++*events; });
        node->setTranscriptionCallback([callbacks](const std::string&, int32_t) { ++*callbacks; });

        SoakAudioThread audio(*node, seed + 1);
        audio.start(preRoll);

        const SoakControlThread::Paths paths{weightlessTinyModel(), writeNotAModel("soak-not-a-model.bin"),
                                             std::string(CORVANE_TEST_DATA_DIR) + "/no-such-model.bin"};
        SoakControlThread first(*node, paths, seed + 2);
        SoakControlThread second(*node, paths, seed + 3);
        watchdog.arm("lifetime " + std::to_string(index) + ": audio and actions", kPatience);
        first.start();
        second.start();
        std::this_thread::sleep_for(busy);
        // stop() waits for an action in progress, a reload behind a run
        // included.
        const SoakControlThread::Tally tallies[] = {first.stop(), second.stop()};

        watchdog.arm("lifetime " + std::to_string(index) + ": the last request", kPatience);
        if (!state.modelReady.load()) {
            ASSERT_TRUE(node->callAction("loadModel", {{"modelPath", paths.model}}).isOk());
        }
        // Nothing may stay pending or half-done once the actions stop.
        ASSERT_TRUE(waitUntilIdle(state)) << "a request was never taken, or a run never ended";
        expectTheNextRequestAnswered(*node, *events, index % 2 == 0);
        if (::testing::Test::HasFatalFailure())
            return;
        uint64_t ownRequests = 1;

        watchdog.arm("lifetime " + std::to_string(index) + ": destruction", kPatience);
        if (ending != Ending::Idle) {
            const std::size_t startedBefore = RunLedger::read(log.texts()).started;
            ASSERT_TRUE(node->callAction("resetTranscribeWindow", {}).isOk());
            waitForNewAudio(state);
            if (::testing::Test::HasFatalFailure())
                return;
            ASSERT_TRUE(node->callAction("transcribe", {}).isOk());
            ++ownRequests;
            if (ending == Ending::DuringARun) {
                ASSERT_TRUE(waitFor([&] { return RunLedger::read(log.texts()).started > startedBefore; }));
            }
        }
        const SoakAudioThread::Report report = audio.stop();
        EXPECT_EQ(state.totalSamples(), state.resampler->getTotalFramesDelivered());
        node.reset();
        watchdog.disarm();

        const RunLedger ledger = RunLedger::read(log.texts());
        check(ledger, report, tallies, ownRequests, *events, *callbacks);
        std::cout << "[ soak ] lifetime " << index << ": " << report.blocks << " blocks (" << report.steadyBlocks
                  << " counted, " << report.rateChanges << " rate changes), "
                  << tallies[0].actions + tallies[1].actions << " actions, "
                  << tallies[0].loads + tallies[1].loads << "+" << tallies[0].failedLoads + tallies[1].failedLoads
                  << " loads, " << ledger.started << " runs (" << ledger.finished << " delivered, "
                  << ledger.windowDrops << " windows dropped), " << ledger.noModelDrops << " no-model drops, "
                  << averageRunMilliseconds() << " ms per run\n";
    }

private:
    long long averageRunMilliseconds() const
    {
        long long total = 0;
        long long runs = 0;
        for (const std::string& line : log.texts("[LATENCY][WHISPER_END]")) {
            const std::size_t at = line.find("processingTime=");
            if (at != std::string::npos) {
                total += std::atoll(line.c_str() + at + 15);
                ++runs;
            }
        }
        return runs > 0 ? total / runs : 0;
    }

    template <typename Condition>
    bool waitFor(Condition condition)
    {
        const Clock::time_point deadline = Clock::now() + kPatience;
        while (!condition()) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    /// No request pending and no run open, and still so after several of the
    /// worker's polls (a request it has just taken shows in the log only
    /// once its run starts).
    bool waitUntilIdle(WhisperSTTNode::Impl& state)
    {
        auto idle = [&] {
            return !state.transcribeRequested.load() && !RunLedger::read(log.texts()).runOpen();
        };
        return waitFor([&] {
            if (!idle())
                return false;
            std::this_thread::sleep_for(100ms);
            return idle();
        });
    }

    void waitForNewAudio(WhisperSTTNode::Impl& state)
    {
        const uint64_t before = state.totalSamples();
        ASSERT_TRUE(waitFor([&] { return state.totalSamples() >= before + 3200; }));
    }

    /// With the actions stopped and a model loaded, one more accepted request
    /// is answered by an event. Not necessarily by exactly one: a worker
    /// stalled between taking an earlier request and starting its run serves
    /// this window twice. check() holds every event to a run and every run to
    /// a request.
    void expectTheNextRequestAnswered(WhisperSTTNode& node, const std::atomic<uint64_t>& events, bool explicitWindow)
    {
        WhisperSTTNode::Impl& state = node.getImpl();
        const uint64_t before = events.load();
        if (explicitWindow) {
            const auto total = static_cast<int>(state.totalSamples());
            ASSERT_TRUE(node.callAction("transcribe", {{"start", std::max(0, total - 16000)}, {"end", total}}).isOk());
        } else {
            // An explicit end in the future holds the default window back
            // until the audio reaches it; a reset brings it to now.
            ASSERT_TRUE(node.callAction("resetTranscribeWindow", {}).isOk());
            waitForNewAudio(state);
            if (::testing::Test::HasFatalFailure())
                return;
            ASSERT_TRUE(node.callAction("transcribe", {}).isOk());
        }
        ASSERT_TRUE(waitFor([&] { return events.load() > before; })) << "the last request was never answered";
        ASSERT_TRUE(waitUntilIdle(state));
    }

    void check(const RunLedger& ledger, const SoakAudioThread::Report& report,
               const SoakControlThread::Tally (&tallies)[2], uint64_t ownRequests, uint64_t events,
               uint64_t callbacks)
    {
        for (const auto& problem : ledger.problems)
            ADD_FAILURE() << "log: " << problem;
        EXPECT_FALSE(ledger.runOpen()) << "the node was destroyed with a run unfinished";
        EXPECT_EQ(ledger.exceptions, 0u);
        // Every finished run is delivered exactly once, to the callback and
        // as an event.
        EXPECT_EQ(ledger.finished, ledger.delivered);
        EXPECT_EQ(events, ledger.finished);
        EXPECT_EQ(callbacks, ledger.finished);

        // Requests collapse and a reload clears a pending one, so runs may be
        // fewer than requests, but never more: each run answers one.
        uint64_t accepted = ownRequests;
        for (const auto& tally : tallies) {
            for (const auto& problem : tally.problems)
                ADD_FAILURE() << "control thread: " << problem;
            accepted += tally.accepted;
        }
        EXPECT_LE(ledger.taken() + ledger.skips, accepted);

        EXPECT_GT(report.steadyBlocks, 0u);
        EXPECT_EQ(report.allocations, 0u) << "the audio thread allocated in steady state";
        EXPECT_EQ(report.locks, 0u) << "the audio thread took a lock in steady state";
        EXPECT_EQ(report.counterMismatches, 0u);
    }

    const int index;
    const uint32_t seed;
    LogCapture& log;
    Watchdog& watchdog;
};

TEST(NodeSoak, SurvivesAudioActionsReloadsAndDestructionAtOnce)
{
    const double seconds = soakSeconds();
    const uint32_t seed = soakSeed();
    std::cout << "[ soak ] " << seconds << " s, CORVANE_SOAK_SEED=" << seed << "\n";
    if (!AllocationCounter::countsMutexLocks())
        std::cout << "[ note ] this build cannot count mutex locks (sanitizer)\n";

    // whisper.cpp's own loading chatter would bury the test's output.
    whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr);

    LogCapture log;
    Watchdog watchdog;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds));
    // Each lifetime spends about as long again on its final checks as it
    // spends busy.
    const std::chrono::duration<double> busy(std::clamp(seconds / 8.0, 2.0, 30.0));
    std::mt19937 random(seed);
    for (int index = 0; index < 3 || Clock::now() < end; ++index) {
        Lifetime(index, static_cast<uint32_t>(random()), log, watchdog).run(busy);
        if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure())
            break;
    }
    whisper_log_set(nullptr, nullptr);
}

} // namespace
} // namespace corvane::test
