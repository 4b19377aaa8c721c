#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane::testmodel {

/// The hyperparameters whisper.cpp reads from a ggml model's header.
struct TestModelShape {
    std::string_view name;
    int32_t vocabularySize = 51864;
    int32_t audioContext = 1500;
    int32_t audioState = 0;
    int32_t audioHeads = 0;
    int32_t audioLayers = 0;
    int32_t textContext = 448;
    int32_t textState = 0;
    int32_t textHeads = 0;
    int32_t textLayers = 0;
    int32_t melBands = 80;
    int32_t fileType = 1; // 1 = 16-bit floats, what the published models use
};

/// The shape of a published English-only model ("tiny.en", "base.en"), or
/// nothing for a name this tool does not know.
std::optional<TestModelShape> findTestModelShape(std::string_view name);

/// The names findTestModelShape() accepts, separated by '|', for messages.
std::string_view knownTestModelNames();

} // namespace corvane::testmodel
