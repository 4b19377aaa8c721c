// Where utterances are cut: in pauses, at the quietest point of a window too
// long, never around background alone; and which windows transcribe sends.

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include <corvane/audio/AudioBuffer.h>

#include "AllocationCounter.h"
#include "AudioFileReader.h"
#include "Endpointer.h"
#include "UtteranceQueue.h"
#include "ProgramRun.h"

namespace corvane::cli {
namespace {

/// A stretch of signal over the case's background noise: nothing, or
/// syllables of a 220 Hz tone with a harmonic (voiced speech as far as energy
/// goes): 250 ms at the level, then 50 ms 20 dB lower, no pause.
struct Piece {
    double seconds, toneDbfs; ///< toneDbfs -200: no tone
};
constexpr double kNone = -200.0;

std::vector<float> render(const std::vector<Piece>& pieces, double noiseDbfs, double rate)
{
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(std::pow(10.0, noiseDbfs / 20.0)));
    std::vector<float> samples;
    for (const Piece& piece : pieces) {
        const double amplitude = std::pow(10.0, piece.toneDbfs / 20.0);
        for (long i = 0; i < std::lround(piece.seconds * rate); ++i) {
            const double t = static_cast<double>(samples.size()) / rate;
            const double syllable = std::fmod(static_cast<double>(i) / rate, 0.3) < 0.25 ? 1.0 : 0.1;
            const double tone = std::sin(2 * M_PI * 220 * t) + 0.5 * std::sin(2 * M_PI * 660 * t);
            samples.push_back(static_cast<float>(amplitude * syllable * tone) + noise(random));
        }
    }
    return samples;
}

/// What transcribe would send for this audio, in seconds: the endpointer fed
/// in 10 ms blocks at the audio's rate, its windows through a holding queue.
/// After the first block (the converter's set-up) it must neither allocate
/// nor lock.
std::vector<std::pair<double, double>> windowsFor(std::vector<float>& samples, double rate, double maxWindowSeconds)
{
    Endpointer endpointer(maxWindowSeconds);
    UtteranceQueue queue(endpointer.getMaxWindowSamples(), true);
    AudioBusArray<1> buses;
    test::AllocationCounter counter;
    const auto block = static_cast<std::size_t>(rate / 100);
    for (std::size_t at = 0; at < samples.size(); at += block) {
        const auto frames = static_cast<std::uint32_t>(std::min(block, samples.size() - at));
        buses.getBus(0).setBuffer(AudioBuffer<float>(samples.data() + at, frames, rate));
        if (at > 0)
            counter.start();
        endpointer.consume(buses);
        counter.stop();
        EXPECT_EQ(counter.count() + counter.lockCount(), 0u) << "at sample " << at;
        while (const auto window = endpointer.takeWindow())
            queue.push(*window);
    }
    endpointer.finish();
    while (const auto window = endpointer.takeWindow())
        queue.push(*window);
    queue.endStream();
    std::vector<std::pair<double, double>> seconds;
    while (const auto window = queue.takeReady(endpointer.getSamplesSeen()))
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
    };
    for (const double rate : {16000.0, 44100.0}) {
        for (const Case& c : cases) {
            std::vector<float> samples = render(c.pieces, c.noiseDbfs, rate);
            const auto windows = windowsFor(samples, rate, c.maxWindowSeconds);
            ASSERT_EQ(windows.size(), c.windows.size()) << c.what << " at " << rate;
            for (std::size_t i = 0; i < windows.size(); ++i) {
                EXPECT_NEAR(windows[i].first, c.windows[i].first, 0.025) << c.what << " at " << rate << ", #" << i;
                EXPECT_NEAR(windows[i].second, c.windows[i].second, 0.025) << c.what << " at " << rate << ", #" << i;
                EXPECT_LE(windows[i].second - windows[i].first, c.maxWindowSeconds + 1e-9) << c.what;
            }
        }
    }
}

TEST(Endpointer, SpokenSentencesComeBackOneWindowEachSplitInTheirPauses)
{
    const std::vector<std::string> sentences{"The birch canoe slid on the smooth planks.",
                                             "Glue the sheet to the dark blue background.",
                                             "It is easy to tell the depth of a well."};
    std::vector<float> joined;
    std::vector<std::pair<double, double>> spoken; // where each sentence's sound lies, in seconds
    double rate = 0.0;
    for (const std::string& sentence : sentences) {
        const std::string file = test::temporaryFile("sentence.wav");
        if (!test::runProgram({"espeak-ng", "-w", file, sentence}).succeeded())
            GTEST_SKIP() << "espeak-ng is not installed";
        MonoAudio audio = readMonoAudio(file);
        rate = audio.sampleRate;
        std::size_t first = 0, last = audio.samples.size();
        while (first < last && std::fabs(audio.samples[first]) < 1e-3f)
            ++first;
        while (last > first && std::fabs(audio.samples[last - 1]) < 1e-3f)
            --last;
        spoken.emplace_back((joined.size() + first) / rate, (joined.size() + last) / rate);
        joined.insert(joined.end(), audio.samples.begin() + first, audio.samples.begin() + last);
        joined.insert(joined.end(), static_cast<std::size_t>(0.7 * rate), 0.0f);
    }
    const auto windows = windowsFor(joined, rate, 20);
    ASSERT_EQ(windows.size(), sentences.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        EXPECT_LE(windows[i].first, spoken[i].first) << sentences[i];
        EXPECT_GE(windows[i].second, spoken[i].second) << sentences[i];
        EXPECT_TRUE(i + 1 == windows.size() || windows[i].second < spoken[i + 1].first) << "cut after " << sentences[i];
    }
}

} // namespace
} // namespace corvane::cli
