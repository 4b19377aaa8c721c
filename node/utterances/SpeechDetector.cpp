#include "SpeechDetector.h"

#include <algorithm>
#include <cmath>

namespace corvane::extensions::whisper {

namespace {

double fromDb(double db)
{
    return std::pow(10.0, db / 10.0);
}

const double kMarginFactor = fromDb(SpeechDetector::kMarginDb);
const double kQuietestSpeechPower = fromDb(SpeechDetector::kQuietestSpeechDbfs);

} // namespace

bool SpeechDetector::classify(double power) noexcept
{
    currentMinimum = framesInSecond == 0 ? power : std::min(currentMinimum, power);
    if (++framesInSecond == kFramesPerSecond) {
        secondMinimums[nextSecond] = currentMinimum;
        nextSecond = (nextSecond + 1) % kFloorSeconds;
        secondsKept = std::min(secondsKept + 1, kFloorSeconds);
        framesInSecond = 0;
    }
    return isSpeech(power);
}

double SpeechDetector::threshold() const noexcept
{
    double floor = framesInSecond > 0 ? currentMinimum : HUGE_VAL;
    for (std::uint32_t i = 0; i < secondsKept; ++i)
        floor = std::min(floor, secondMinimums[i]);
    if (!std::isfinite(floor))
        return HUGE_VAL; // nothing heard yet
    return std::max(floor * kMarginFactor, kQuietestSpeechPower);
}

} // namespace corvane::extensions::whisper
