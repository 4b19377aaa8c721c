// The soak test trusts this reading of the log to notice lost or half-done
// runs, so it is checked on its own first.

#include <gtest/gtest.h>

#include "RunLedger.h"

namespace corvane::test {
namespace {

const std::string kStart = "[LATENCY][WHISPER_START] timestamp=1";
const std::string kEnd = "[LATENCY][WHISPER_END] timestamp=2 processingTime=1ms";
const std::string kDelivery = "[WhisperSTTNode] Transcription:  hello (Processing time: 1 ms)";
const std::string kNoModel = "[WhisperSTTNode] Transcription triggered but no model is loaded.";
const std::string kDropped = "[WhisperSTTNode] Transcription window [5, 9) holds no retained audio; request dropped.";
const std::string kClamped =
    "[WhisperSTTNode] Transcription window [0, 9) reaches outside the retained audio; transcribing [1, 9).";

TEST(RunLedger, CountsEveryOutcomeOfATakenRequest)
{
    const RunLedger ledger = RunLedger::read({kStart, kClamped, kEnd, kDelivery, kNoModel, kStart, kDropped, kStart,
                                              "[WhisperSTTNode] Failed to process audio", kStart,
                                              "[WhisperSTTNode] Transcription failed: bad_alloc"});
    EXPECT_TRUE(ledger.problems.empty());
    EXPECT_FALSE(ledger.runOpen());
    EXPECT_EQ(ledger.started, 4u);
    EXPECT_EQ(ledger.finished, 1u);
    EXPECT_EQ(ledger.delivered, 1u);
    EXPECT_EQ(ledger.windowDrops, 1u);
    EXPECT_EQ(ledger.failed, 1u);
    EXPECT_EQ(ledger.exceptions, 1u);
    EXPECT_EQ(ledger.noModelDrops, 1u);
    EXPECT_EQ(ledger.taken(), 5u);
}

TEST(RunLedger, ARunWithoutItsEndOrDeliveryIsStillOpen)
{
    EXPECT_TRUE(RunLedger::read({kStart}).runOpen());
    EXPECT_TRUE(RunLedger::read({kStart, kEnd}).runOpen());
    EXPECT_FALSE(RunLedger::read({kStart, kEnd, kDelivery}).runOpen());
}

TEST(RunLedger, OutcomesOutOfOrderAreProblems)
{
    EXPECT_EQ(RunLedger::read({kStart, kStart}).problems.size(), 1u) << "a second start before the first ended";
    EXPECT_EQ(RunLedger::read({kEnd}).problems.size(), 1u) << "an end without a start";
    EXPECT_EQ(RunLedger::read({kStart, kEnd, kEnd}).problems.size(), 1u) << "two ends for one start";
    EXPECT_EQ(RunLedger::read({kStart, kEnd, kDelivery, kDelivery}).problems.size(), 1u) << "two deliveries";
    EXPECT_EQ(RunLedger::read({kStart, kNoModel}).problems.size(), 1u) << "a take while a run is open";
}

} // namespace
} // namespace corvane::test
