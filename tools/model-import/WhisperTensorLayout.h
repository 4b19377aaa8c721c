#pragma once

#include "CTranslate2Model.h"
#include "WhisperFileHeader.h"
#include "WhisperTensorTable.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvane::modelimport {

using modelfile::TensorRole;

/// One tensor of the ggml file, in whisper.cpp's name and dimension order.
struct WhisperTensor : modelfile::WhisperTensorEntry {
    std::vector<float> values;
};

/// The hyperparameters of a CTranslate2 Whisper model, read from its tensors'
/// shapes (and the head counts it stores). fileType is left for the caller.
/// Raises ModelImportError when the shapes do not make a Whisper model.
modelfile::WhisperHyperparameters readWhisperHyperparameters(CTranslate2Model& model);

/// Hands each tensor of the ggml file to `consume`, in whisper.cpp's order,
/// one at a time so that only one is in memory: renamed, fused attention
/// projections split, every shape checked against `hyperparameters`.
void forEachWhisperTensor(CTranslate2Model& model, const modelfile::WhisperHyperparameters& hyperparameters,
                          const std::function<void(WhisperTensor&&)>& consume);

} // namespace corvane::modelimport
