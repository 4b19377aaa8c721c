// An hour of talk through one node that finds its own utterances, fed as fast
// as the node lets a host feed it (its "getProgress"): resident memory every
// ten minutes of audio, and whether every stretch of speech went into some
// utterance the node transcribed. Speech here is syllables of a voiced tone
// (the weight-less model transcribes them at a real model's cost but says no
// words, so the node's debug lines tell which windows it ran).
//
//   corvane_bench_utterance_marathon [MINUTES] [MODEL]   default: 60, the weight-less tiny.en
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <corvane/core/Logger.h>

#include "BenchSupport.h"
#include "MachineInfo.h"

namespace {

using corvane::CVAnyMap;
using corvane::extensions::whisper::WhisperSTTNode;

double residentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return -1.0;
}

long long count(WhisperSTTNode& node, const char* key)
{
    return node.callAction("getProgress", {}).getValue().asMap().at(key).asInteger();
}

} // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::stoi(argv[1]) : 60;
    const std::string model = argc > 2 ? argv[2] : corvane::test::weightlessTinyModel();
    constexpr double kRate = 16000.0;

    // Utterances of 2 to 14 s of syllables with pauses of 0.4 to 3 s between
    // them, over a -60 dBFS noise floor; where the speech lies is kept.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> talk(2.0, 14.0), pause(0.4, 3.0);
    std::vector<std::pair<uint64_t, uint64_t>> spoken;
    std::vector<corvane::test::Piece> pieces{{1.0, corvane::test::kNone}};
    double at = 1.0;
    while (at < minutes * 60.0 - 20.0) {
        const double length = talk(random), gap = pause(random);
        spoken.emplace_back(static_cast<uint64_t>(at * kRate), static_cast<uint64_t>((at + length) * kRate));
        pieces.push_back({length, -20});
        pieces.push_back({gap, corvane::test::kNone});
        at += length + gap;
    }
    pieces.push_back({5.0, corvane::test::kNone});
    const std::vector<float> audio = corvane::test::render(pieces, -60, kRate);

    std::mutex linesMutex;
    std::vector<std::pair<uint64_t, uint64_t>> transcribed;
    corvane::bench::quietLogs();
    corvane::Logger::setLevel(corvane::LogLevel::Debug);
    corvane::Logger::setSink([&](corvane::LogLevel, const std::string& line) {
        static const std::regex utterance(R"(Transcribing the utterance \[(\d+), (\d+)\))");
        std::smatch match;
        if (std::regex_search(line, match, utterance)) {
            std::lock_guard<std::mutex> lock(linesMutex);
            transcribed.emplace_back(std::stoull(match[1]), std::stoull(match[2]));
        }
    });

    std::printf("Utterance marathon: %d min of talk (%zu utterances), %s, 2 threads\n", minutes, spoken.size(),
                model.c_str());
    corvane::bench::printMachine();
    const auto started = std::chrono::steady_clock::now();
    {
        WhisperSTTNode node(CVAnyMap{{"modelPath", model}, {"useGPU", false}, {"numberOfThreads", 2},
                                     {"flashAttention", true}, {"autoTranscribe", true}, {"partialResults", false}});
        std::printf("  %-28s VmRSS %7.1f MiB\n", "model loaded", residentMiB());
        constexpr std::size_t kBlock = 160;
        std::size_t nextReport = static_cast<std::size_t>(600 * kRate);
        for (std::size_t offset = 0; offset < audio.size(); offset += kBlock) {
            // As far as the history still holds what the node needs, less 1 s.
            while (static_cast<long long>(offset) - count(node, "neededFrom") > 464000)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            corvane::test::feed(node, std::vector<float>(audio.begin() + offset,
                                                         audio.begin() + std::min(offset + kBlock, audio.size())),
                                kRate, kBlock);
            if (offset >= nextReport) {
                std::printf("  after %3zu min of audio        VmRSS %7.1f MiB\n", offset / static_cast<std::size_t>(60 * kRate),
                            residentMiB());
                std::fflush(stdout);
                nextReport += static_cast<std::size_t>(600 * kRate);
            }
        }
        node.callAction("endUtterance", {});
        while (count(node, "pendingUtterances") > 0 || count(node, "examinedSamples") < count(node, "receivedSamples"))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::printf("  %-28s VmRSS %7.1f MiB\n", "all transcribed", residentMiB());
    }
    corvane::Logger::setSink(nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // Every stretch of speech inside one window that ran.
    std::size_t lost = 0;
    for (const auto& [start, end] : spoken) {
        bool covered = false;
        for (const auto& [from, to] : transcribed)
            covered = covered || (from <= start && end <= to);
        lost += covered ? 0 : 1;
    }
    std::printf("  %zu runs for %zu utterances; %zu utterances not inside a run; %.0f s for %d min of audio (%.1fx "
                "real time)\n",
                transcribed.size(), spoken.size(), lost, seconds, minutes, minutes * 60.0 / seconds);
    return lost == 0 ? 0 : 1;
}
