#include "TestModelShape.h"

#include <array>

namespace corvane::testmodel {
namespace {
TestModelShape makeShape(std::string_view name, int32_t state, int32_t heads, int32_t layers, size_t tokenCount = 0)
{
    TestModelShape shape;
    shape.name = name;
    shape.vocabularySize = 51864;
    shape.audioContext = 1500;
    shape.textContext = 448;
    shape.melBands = 80;
    shape.fileType = 1; // 16-bit floats, what the published models use
    shape.audioState = shape.textState = state;
    shape.audioHeads = shape.textHeads = heads;
    shape.audioLayers = shape.textLayers = layers;
    shape.tokenCount = tokenCount;
    return shape;
}

// whisper.cpp picks its compute graph from these numbers alone, so a test model
// with the published sizes costs as much to run as the real one.
const std::array<TestModelShape, 3> shapes{
    makeShape("tiny.en", 384, 6, 4),
    makeShape("base.en", 512, 8, 6),
    makeShape("mini", 64, 1, 1, 256),
};
} // namespace

std::optional<TestModelShape> findTestModelShape(std::string_view name)
{
    for (const auto& shape : shapes)
        if (shape.name == name)
            return shape;
    return std::nullopt;
}

std::string_view knownTestModelNames()
{
    return "tiny.en|base.en|mini";
}

} // namespace corvane::testmodel
