#pragma once

#include <vector>

namespace corvane::testmodel {

/// A Slaney-style triangular mel filter bank, laid out as whisper.cpp reads it
/// from a model file: `bands` rows of `fftBins` weights.
///
/// It is the bank OpenAI's Whisper was trained with (80 bands over a 400-point
/// FFT at 16 kHz), computed rather than copied, so a test model turns audio
/// into the same log-mel input a real model would see.
struct MelFilterBank {
    int bands = 0;
    int fftBins = 0;
    std::vector<float> weights;
};

MelFilterBank makeMelFilterBank(int bands, int fftSize, double sampleRate);

} // namespace corvane::testmodel
