#include "MelFilterBank.h"

#include <algorithm>
#include <cmath>

namespace corvane::modelfile {
namespace {
// The Slaney mel scale: linear below 1 kHz, logarithmic above.
constexpr double linearHzPerMel = 200.0 / 3.0;
constexpr double breakHz = 1000.0;
constexpr double breakMel = breakHz / linearHzPerMel;
const double logStep = std::log(6.4) / 27.0;

double hzToMel(double hz)
{
    return hz < breakHz ? hz / linearHzPerMel : breakMel + std::log(hz / breakHz) / logStep;
}

double melToHz(double mel)
{
    return mel < breakMel ? mel * linearHzPerMel : breakHz * std::exp(logStep * (mel - breakMel));
}
} // namespace

MelFilterBank makeMelFilterBank(int bands, int fftSize, double sampleRate)
{
    MelFilterBank bank;
    bank.bands = bands;
    bank.fftBins = fftSize / 2 + 1;
    bank.weights.assign(static_cast<size_t>(bank.bands) * static_cast<size_t>(bank.fftBins), 0.0f);

    // Band edges are evenly spaced in mel from 0 Hz to Nyquist; band i rises
    // from edge i to edge i+1 and falls to edge i+2.
    const double melStep = hzToMel(sampleRate / 2.0) / (bands + 1);
    std::vector<double> edgesHz(static_cast<size_t>(bands) + 2);
    for (size_t i = 0; i < edgesHz.size(); ++i)
        edgesHz[i] = melToHz(static_cast<double>(i) * melStep);

    for (int band = 0; band < bands; ++band) {
        const double lower = edgesHz[static_cast<size_t>(band)];
        const double centre = edgesHz[static_cast<size_t>(band) + 1];
        const double upper = edgesHz[static_cast<size_t>(band) + 2];
        // Each triangle is scaled to unit area so that wide high bands do not
        // outweigh narrow low ones.
        const double areaNorm = 2.0 / (upper - lower);

        for (int bin = 0; bin < bank.fftBins; ++bin) {
            const double hz = bin * sampleRate / fftSize;
            const double rising = (hz - lower) / (centre - lower);
            const double falling = (upper - hz) / (upper - centre);
            // Rounded to float before scaling, as the reference bank was.
            const auto triangle = static_cast<float>(std::max(0.0, std::min(rising, falling)));
            bank.weights[static_cast<size_t>(band * bank.fftBins + bin)] = static_cast<float>(triangle * areaNorm);
        }
    }
    return bank;
}

MelFilterBank makeWhisperMelFilterBank(int bands)
{
    constexpr int whisperFftSize = 400;
    constexpr double whisperSampleRate = 16000.0;
    return makeMelFilterBank(bands, whisperFftSize, whisperSampleRate);
}

} // namespace corvane::modelfile
