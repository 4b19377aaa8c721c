#pragma once

#include "WeightType.h"

#include <filesystem>

namespace corvane::modelimport {

/// Converts the CTranslate2 Whisper model in `sourceFolder` (model.bin or its
/// numbered parts, config.json, vocabulary.txt or vocabulary.json) into a
/// ggml Whisper file at `output` that whisper.cpp loads, English-only or
/// multilingual. The file appears whole or not at all.
/// Raises ModelImportError, with a one-line reason, when it cannot.
void importCTranslate2Whisper(const std::filesystem::path& sourceFolder, const std::filesystem::path& output,
                              WeightType weightType);

} // namespace corvane::modelimport
