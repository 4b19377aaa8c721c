#include "SoakControlThread.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>

#include "WhisperSTTNodeImpl.h"

namespace corvane::test {

namespace {

const std::string kNoModel = "[WhisperSTTNode] No model loaded; call 'loadModel' first.";
const std::string kInvalidWindow = "[WhisperSTTNode] Invalid transcribe window: ";

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

int clampToInt(int64_t value)
{
    return static_cast<int>(std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

} // namespace

void SoakControlThread::start()
{
    stopRequested = false;
    tally = {};
    thread = std::thread([this] { run(); });
}

SoakControlThread::Tally SoakControlThread::stop()
{
    stopRequested = true;
    if (thread.joinable())
        thread.join();
    return tally;
}

void SoakControlThread::problem(std::string text)
{
    if (tally.problems.size() < 20)
        tally.problems.push_back(std::move(text));
}

void SoakControlThread::run()
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<uint32_t> choice(0, 99);
    std::uniform_int_distribution<int> pauseMs(0, 40);
    while (!stopRequested.load()) {
        try {
            act(choice(random), random);
        } catch (const std::exception& error) {
            problem(std::string("an action raised: ") + error.what());
        }
        ++tally.actions;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
    }
}

void SoakControlThread::transcribe(const CVAnyMap& params, bool valid)
{
    const Result<CVAny> result = node.callAction("transcribe", params);
    if (result.isOk()) {
        ++tally.accepted;
        if (!valid)
            problem("an invalid window was accepted: " + CVAny(params).toString());
        return;
    }
    ++tally.refused;
    const std::string& message = result.getError().getMessage();
    const bool expected = message == kNoModel || (!valid && startsWith(message, kInvalidWindow));
    if (!expected)
        problem("\"transcribe\" " + CVAny(params).toString() + " refused: " + message);
}

void SoakControlThread::act(uint32_t choice, std::mt19937& random)
{
    const auto total = static_cast<int64_t>(node.getImpl().totalSamples());
    auto uniform = [&random](int64_t low, int64_t high) {
        return std::uniform_int_distribution<int64_t>(low, high)(random);
    };

    if (choice < 35) {
        transcribe({}, true);
    } else if (choice < 55) {
        // Anywhere in the last 40 s, so older than the history now and then.
        const int64_t start = std::max<int64_t>(0, total - uniform(0, 640000));
        const int64_t end = start + uniform(1, 64000);
        transcribe({{"start", clampToInt(start)}, {"end", clampToInt(end)}}, true);
    } else if (choice < 63) {
        // Entirely in the future, or at the very top of the index range.
        if (uniform(0, 1) == 0) {
            const int64_t start = total + uniform(1, 50000);
            transcribe({{"start", clampToInt(start)}, {"end", clampToInt(start + uniform(1, 50000))}}, true);
        } else {
            const int max = std::numeric_limits<int>::max();
            transcribe({{"start", max - static_cast<int>(uniform(1, 1000))}, {"end", max}}, true);
        }
    } else if (choice < 75) {
        const int a = clampToInt(uniform(0, total + 1000));
        const int b = static_cast<int>(uniform(1, 100000));
        switch (uniform(0, 3)) {
        case 0: transcribe({{"start", -b}, {"end", a}}, true); break; // straddles a 2^32 wrap
        case 1: transcribe({{"start", a}, {"end", -b}}, false); break;
        case 2: transcribe({{"start", a}, {"end", a}}, false); break;
        default: transcribe({{"start", a + b}, {"end", a}}, false); break;
        }
    } else if (choice < 90) {
        if (node.callAction("resetTranscribeWindow", {}).hasError())
            problem("\"resetTranscribeWindow\" refused");
    } else if (choice < 95) {
        ++tally.loads;
        const Result<CVAny> result = node.callAction("loadModel", {{"modelPath", paths.model}, {"useGPU", false}});
        if (result.hasError())
            problem("loading the test model failed: " + result.getError().getMessage());
    } else {
        ++tally.failedLoads;
        const std::string& path = choice < 98 ? paths.missing : paths.notAModel;
        if (node.callAction("loadModel", {{"modelPath", path}}).isOk())
            problem("loading " + path + " succeeded");
    }
}

} // namespace corvane::test
