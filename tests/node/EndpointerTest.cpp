// Where utterances are cut: in pauses, at the quietest point of a window too
// long, never around background alone; and which of them join.

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "Endpointer.h"
#include "NodeTestSupport.h"
#include "ProgramRun.h"
#include "UtteranceQueue.h"

namespace corvane::extensions::whisper {
namespace {

using test::kNone;
using test::Piece;
using test::render;

/// The utterances of 16 kHz audio, in seconds, as the node's worker finds
/// them: the endpointer fed in uneven pieces, its windows through a queue
/// that joins short tails but not neighbours.
std::vector<std::pair<double, double>> windowsFor(const std::vector<float>& samples, double maxWindowSeconds,
                                                  double pauseSeconds = 0.3)
{
    const auto maxSamples = static_cast<uint64_t>(maxWindowSeconds * 16000);
    Endpointer endpointer(maxSamples, static_cast<uint64_t>(pauseSeconds * 16000));
    UtteranceQueue queue(maxSamples, false);
    std::mt19937 random(3);
    for (std::size_t at = 0; at < samples.size();) {
        const std::size_t piece = std::min<std::size_t>(random() % 4000 + 1, samples.size() - at);
        endpointer.analyze({samples.data() + at, piece});
        at += piece;
    }
    endpointer.finish();
    while (const auto window = endpointer.takeWindow())
        queue.push(*window);
    std::vector<std::pair<double, double>> seconds;
    while (const auto window = queue.take())
        seconds.emplace_back(window->start / 16000.0, window->end / 16000.0);
    return seconds;
}

TEST(Endpointer, CutsGeneratedSignalsInTheirPauses)
{
    struct Case {
        const char* what;
        std::vector<Piece> pieces;
        double noiseDbfs;
        double maxWindowSeconds;
        std::vector<std::pair<double, double>> windows; ///< within 25 ms
        double pauseSeconds = 0.3;
    };
    // Tone pieces end 0.1 or 0.2 s into a syllable, so they end loud.
    const Case cases[]{
        {"two bursts, cut in the middle of the 600 ms gap",
         {{1, kNone}, {2, -20}, {0.6, kNone}, {1.6, -20}, {1, kNone}}, -90, 20, {{0.7, 3.15}, {3.3, 5.35}}},
        {"the same over a noise floor 25 dB below", {{1, kNone}, {2, -20}, {0.6, kNone}, {1.6, -20}, {1, kNone}}, -45,
         20, {{0.7, 3.15}, {3.3, 5.35}}},
        {"a gap under 300 ms does not split", {{1, kNone}, {1, -20}, {0.25, kNone}, {1, -20}, {1, kNone}}, -60, 20,
         {{0.7, 3.4}}},
        {"noise alone sends nothing", {{10, kNone}}, -30, 20, {}},
        {"silence alone sends nothing", {{10, kNone}}, -200, 20, {}},
        {"a click is no speech", {{1, kNone}, {0.02, -10}, {2, kNone}}, -60, 20, {}},
        {"speech from the first sample starts the window at 0", {{2, -20}, {1, kNone}}, -60, 20, {{0, 2.15}}},
        {"40 s without a pause: cut at the quietest 20 ms of the last 3 s",
         {{1, kNone}, {17.5, -20}, {0.02, kNone}, {18.48, -20}, {0.02, kNone}, {4, -20}},
         -60, 20, {{0.7, 18.51}, {18.51, 37.01}, {37.01, 41.02}}},
        {"--max-window 5 cuts sooner", {{1, kNone}, {3.5, -20}, {0.02, kNone}, {3.1, -20}, {1, kNone}}, -60, 5,
         {{0.7, 4.51}, {4.51, 7.77}}},
        {"a tail under 1 s joins the window before it", {{1, kNone}, {3.1, -20}, {0.5, kNone}, {0.5, -20}}, -60, 20,
         {{0.7, 5.1}}},
        {"a tail under 1 s stays alone when both would not fit",
         {{1, kNone}, {19.3, -20}, {0.5, kNone}, {0.5, -20}}, -60, 20, {{0.7, 20.45}, {20.5, 21.3}}},
        {"quiet speech in a quiet room counts", {{1, kNone}, {2, -65}, {1, kNone}}, -100, 20, {{0.7, 3.15}}},
        {"a 600 ms pause does not end an utterance when the pause is 800 ms",
         {{1, kNone}, {2, -20}, {0.6, kNone}, {1.6, -20}, {1, kNone}}, -90, 20, {{0.7, 5.6}}, 0.8},
    };
    for (const Case& c : cases) {
        const auto windows = windowsFor(render(c.pieces, c.noiseDbfs, 16000.0), c.maxWindowSeconds, c.pauseSeconds);
        ASSERT_EQ(windows.size(), c.windows.size()) << c.what;
        for (std::size_t i = 0; i < windows.size(); ++i) {
            EXPECT_NEAR(windows[i].first, c.windows[i].first, 0.025) << c.what << ", #" << i;
            EXPECT_NEAR(windows[i].second, c.windows[i].second, 0.025) << c.what << ", #" << i;
            EXPECT_LE(windows[i].second - windows[i].first, c.maxWindowSeconds + 1e-9) << c.what;
        }
    }
}

// Brown noise (a leaky random walk) swings far more than 10 dB from one 10 ms
// frame to the next, but below the voice band: it is no speech.
TEST(Endpointer, BrownNoiseIsNoSpeech)
{
    std::mt19937 random(11);
    std::normal_distribution<double> step(0.0, 0.02);
    std::vector<float> brown(30 * 16000);
    double level = 0.0;
    for (float& sample : brown)
        sample = static_cast<float>(level = 0.999 * level + step(random));
    EXPECT_TRUE(windowsFor(brown, 20).empty()) << ::testing::PrintToString(windowsFor(brown, 20));
}

TEST(Endpointer, SpokenSentencesComeBackOneWindowEachSplitInTheirPauses)
{
    const std::vector<std::string> sentences{"The birch canoe slid on the smooth planks.",
                                             "Glue the sheet to the dark blue background.",
                                             "It is easy to tell the depth of a well."};
    std::vector<float> joined;
    std::vector<std::pair<double, double>> spoken; // where each sentence's sound lies, in seconds
    for (const std::string& sentence : sentences) {
        const std::string file = test::temporaryFile("sentence.wav"), file16k = test::temporaryFile("sentence-16k.wav");
        if (!test::runProgram({"espeak-ng", "-w", file, sentence}).succeeded() ||
            !test::runProgram({"sox", "-D", file, "-r", "16000", file16k}).succeeded())
            GTEST_SKIP() << "needs espeak-ng and sox";
        const std::vector<float> samples = test::readMono16k(file16k);
        std::size_t first = 0, last = samples.size();
        while (first < last && std::fabs(samples[first]) < 1e-3f)
            ++first;
        while (last > first && std::fabs(samples[last - 1]) < 1e-3f)
            --last;
        spoken.emplace_back((joined.size() + first) / 16000.0, (joined.size() + last) / 16000.0);
        joined.insert(joined.end(), samples.begin() + first, samples.begin() + last);
        joined.insert(joined.end(), 11200, 0.0f); // 0.7 s
    }
    const auto windows = windowsFor(joined, 20);
    ASSERT_EQ(windows.size(), sentences.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        EXPECT_LE(windows[i].first, spoken[i].first) << sentences[i];
        EXPECT_GE(windows[i].second, spoken[i].second) << sentences[i];
        EXPECT_TRUE(i + 1 == windows.size() || windows[i].second < spoken[i + 1].first) << "cut after " << sentences[i];
    }
}

} // namespace
} // namespace corvane::extensions::whisper
