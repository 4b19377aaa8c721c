#pragma once

#include "WeightType.h"
#include "WhisperTensorLayout.h"

#include <cstdint>
#include <ostream>

namespace corvane::modelimport {

/// The header's file type for `type`: ggml's ftype, with the quantisation
/// format version folded in for quantised types as whisper.cpp's quantizer
/// writes it.
int32_t whisperFileType(WeightType type);

/// Writes one tensor record (dimensions, name, ggml type, data). Matrices take
/// the file's weight type, quantised with ggml's own functions; the rest stay
/// in float as whisper.cpp's loader and quantizer expect: norms, biases and
/// positional embeddings float32, convolutions float16 (float32 in an f32
/// file). Raises ModelImportError for a matrix whose rows do not split into
/// the quantisation's blocks.
void writeGgmlTensor(std::ostream& out, const WhisperTensor& tensor, WeightType type);

} // namespace corvane::modelimport
