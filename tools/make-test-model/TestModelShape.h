#pragma once

#include "WhisperFileHeader.h"

#include <optional>
#include <string_view>

namespace corvane::testmodel {

/// The hyperparameters of a model size, with its name.
struct TestModelShape : modelfile::WhisperHyperparameters {
    std::string_view name;
    /// How many vocabulary tokens the file holds; whisper.cpp names the ones
    /// after them itself. 0: the whole test vocabulary.
    size_t tokenCount = 0;
};

/// The shape of a published English-only model ("tiny.en", "base.en"), or of
/// "mini", a far smaller made-up one (one 64-wide head, one layer each side,
/// only the 256 byte tokens) that whisper.cpp loads in a moment: small files
/// for fuzzing and for tests of the file itself. Nothing for a name this tool
/// does not know.
std::optional<TestModelShape> findTestModelShape(std::string_view name);

/// The names findTestModelShape() accepts, separated by '|', for messages.
std::string_view knownTestModelNames();

} // namespace corvane::testmodel
