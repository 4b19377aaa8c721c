#pragma once

#include "WhisperFileHeader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::modelfile {

/// Which ggml type whisper.cpp gives a tensor.
enum class TensorRole {
    Float32,     ///< Always float32: norms, biases, positional embeddings.
    Convolution, ///< float16, or float32 in an all-f32 file; never quantised.
    Matrix,      ///< The file's weight type; quantised in quantised files.
};

/// One tensor of a ggml Whisper file, named and shaped as whisper.cpp creates it.
struct WhisperTensorEntry {
    std::string name;
    std::vector<int32_t> dimensions; ///< ggml order: the innermost (row length) first.
    TensorRole role = TensorRole::Float32;
};

/// Every tensor whisper.cpp creates for a model with these hyperparameters,
/// in the order the published files hold them: whatever writes a model file
/// and whatever checks one agree through this one list.
std::vector<WhisperTensorEntry> whisperTensorTable(const WhisperHyperparameters& hyperparameters);

} // namespace corvane::modelfile
