#pragma once

#include <cstdint>

#include <corvane/core/CVAny.h>

#include "ModelSlot.h"
#include "UtteranceFinder.h"

namespace corvane::extensions::whisper {

/// What the node's configuration map decides beyond the decoding parameters.
struct NodeConfiguration {
    bool initializeModel = true;
    /// The model named by "modelPath"; empty for the default.
    std::string configuredModelPath;
    /// GPU, flash attention and voice activity for every load; the path is
    /// the slot's default.
    ModelOptions model;
    int32_t reservedCoresForAudio = 0; ///< accepted, but nothing reserves cores yet
    bool suppressNonSpeechAnnotations = true;
    UtteranceSettings utterances;
};

/// Applies the configuration keys in the map's (key) order: decoding keys go
/// straight into the slot's parameters and grammar, the rest into the result,
/// whose model options start from the slot's. An unknown key is logged and
/// skipped; a value that does not convert raises out of here and ends the
/// node's construction.
NodeConfiguration applyConfiguration(const CVAnyMap& config, ModelSlot& model);

} // namespace corvane::extensions::whisper
