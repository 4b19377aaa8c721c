#pragma once

#include "WhisperFileHeader.h"

#include <optional>
#include <string_view>

namespace corvane::testmodel {

/// The hyperparameters of a published model size, with its name.
struct TestModelShape : modelfile::WhisperHyperparameters {
    std::string_view name;
};

/// The shape of a published English-only model ("tiny.en", "base.en"), or
/// nothing for a name this tool does not know.
std::optional<TestModelShape> findTestModelShape(std::string_view name);

/// The names findTestModelShape() accepts, separated by '|', for messages.
std::string_view knownTestModelNames();

} // namespace corvane::testmodel
