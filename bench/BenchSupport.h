#pragma once

// What the node benchmarks share: quiet logs, a speech-like test signal and
// the feeding helpers and model paths of the node tests.

#include <cmath>
#include <cstddef>
#include <ctime>
#include <numbers>
#include <vector>

#include <whisper.h>

#include <corvane/core/Logger.h>

#include "NodeTestSupport.h"

namespace corvane::bench {

/// Our log and whisper.cpp's would otherwise interleave with the figures.
inline void quietLogs()
{
    Logger::setLevel(LogLevel::Error);
    whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr);
}

/// CPU time of every thread of the process. On a machine shared with other
/// work it varies far less than wall time, and the node's run happens on its
/// worker thread, which a benchmark's own CPU figure does not see.
inline double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

/// A voiced, syllable-paced signal: a 130 Hz fundamental drifting by a few
/// hertz, with harmonics weighted like two formants, under a 4 Hz envelope.
/// Weight-less models cost the same on any input; this keeps the real-model
/// case honest too, and gives the resampler something other than a pure tone.
inline std::vector<float> speechLike(double rate, double seconds)
{
    std::vector<float> samples(static_cast<std::size_t>(rate * seconds));
    constexpr double twoPi = 2.0 * std::numbers::pi;
    double phase = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double f0 = 130.0 + 8.0 * std::sin(twoPi * 0.7 * t);
        phase += twoPi * f0 / rate;
        double voiced = 0.0;
        for (int harmonic = 1; harmonic <= 12; ++harmonic) {
            const double frequency = f0 * harmonic;
            const double formants = std::exp(-std::pow((frequency - 600.0) / 250.0, 2.0))
                                    + 0.6 * std::exp(-std::pow((frequency - 1400.0) / 300.0, 2.0)) + 0.05;
            voiced += formants * std::sin(phase * harmonic) / harmonic;
        }
        const double envelope = 0.5 - 0.5 * std::cos(twoPi * 4.0 * t);
        samples[i] = static_cast<float>(0.25 * envelope * voiced);
    }
    return samples;
}

} // namespace corvane::bench
