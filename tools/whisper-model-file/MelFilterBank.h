#pragma once

#include <vector>

namespace corvane::modelfile {

/// A Slaney-style triangular mel filter bank, laid out as whisper.cpp reads it
/// from a model file: `bands` rows of `fftBins` weights.
///
/// It is the bank OpenAI's Whisper was trained with (80 or 128 bands over a
/// 400-point FFT at 16 kHz), computed rather than copied, so every model file
/// we write turns audio into the log-mel input its weights expect.
struct MelFilterBank {
    int bands = 0;
    int fftBins = 0;
    std::vector<float> weights;
};

MelFilterBank makeMelFilterBank(int bands, int fftSize, double sampleRate);

/// The bank whisper.cpp expects in a model file with `bands` mel bands.
MelFilterBank makeWhisperMelFilterBank(int bands);

} // namespace corvane::modelfile
