#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace corvane::modelfile {

/// The hyperparameters at the top of a ggml Whisper file, in the order
/// whisper.cpp's loader reads them.
struct WhisperHyperparameters {
    int32_t vocabularySize = 0;
    int32_t audioContext = 0;
    int32_t audioState = 0;
    int32_t audioHeads = 0;
    int32_t audioLayers = 0;
    int32_t textContext = 0;
    int32_t textState = 0;
    int32_t textHeads = 0;
    int32_t textLayers = 0;
    int32_t melBands = 0;
    /// ggml's file type (0 = f32, 1 = f16, ...), plus 1000 × the quantisation
    /// format version for quantised files.
    int32_t fileType = 1;
};

/// ggml model files are little-endian whatever the host is.
void putU32(std::ostream& out, uint32_t value);
void putI32(std::ostream& out, int32_t value);
void putF32(std::ostream& out, float value);

/// Writes everything before the tensors: the magic, the hyperparameters, the
/// mel filter bank computed for `melBands`, and the vocabulary (token texts as
/// raw bytes, indexed by token id).
void writeWhisperHeader(std::ostream& out, const WhisperHyperparameters& hyperparameters,
                        const std::vector<std::string>& tokens);

} // namespace corvane::modelfile
