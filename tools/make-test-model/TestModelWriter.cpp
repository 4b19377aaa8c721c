#include "TestModelWriter.h"

#include "MelFilterBank.h"
#include "TestVocabulary.h"

#include <array>
#include <bit>
#include <cstdint>
#include <fstream>
#include <system_error>

namespace corvane::testmodel {
namespace {

constexpr uint32_t ggmlFileMagic = 0x67676d6c;
constexpr int whisperFftSize = 400;
constexpr double whisperSampleRate = 16000.0;

// ggml model files are little-endian whatever the host is.
void putU32(std::ostream& out, uint32_t value)
{
    const std::array<char, 4> bytes{
        static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
        static_cast<char>((value >> 16) & 0xff), static_cast<char>((value >> 24) & 0xff)};
    out.write(bytes.data(), bytes.size());
}

void putI32(std::ostream& out, int32_t value)
{
    putU32(out, static_cast<uint32_t>(value));
}

void putF32(std::ostream& out, float value)
{
    putU32(out, std::bit_cast<uint32_t>(value));
}

} // namespace

void writeTestModel(const TestModelShape& shape, std::ostream& out)
{
    putU32(out, ggmlFileMagic);

    // In the order whisper.cpp's loader reads them.
    for (int32_t value : {shape.vocabularySize, shape.audioContext, shape.audioState, shape.audioHeads,
                          shape.audioLayers, shape.textContext, shape.textState, shape.textHeads,
                          shape.textLayers, shape.melBands, shape.fileType})
        putI32(out, value);

    const auto filters = makeMelFilterBank(shape.melBands, whisperFftSize, whisperSampleRate);
    putI32(out, filters.bands);
    putI32(out, filters.fftBins);
    for (float weight : filters.weights)
        putF32(out, weight);

    const auto tokens = makeTestVocabulary();
    putI32(out, static_cast<int32_t>(tokens.size()));
    for (const auto& token : tokens) {
        putU32(out, static_cast<uint32_t>(token.size()));
        out.write(token.data(), static_cast<std::streamsize>(token.size()));
    }
    // The file ends here: whisper.cpp stops reading tensors at end of file
    // and, having read none, keeps the model as it is.
}

std::string writeTestModelFile(const TestModelShape& shape, const std::filesystem::path& path)
{
    std::error_code error;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    if (error)
        return "cannot create " + path.parent_path().string() + ": " + error.message();

    auto partial = path;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out)
            return "cannot open " + partial.string() + " for writing";
        writeTestModel(shape, out);
        out.close();
        if (!out) {
            std::filesystem::remove(partial, error);
            return "cannot write " + partial.string();
        }
    }

    std::filesystem::rename(partial, path, error);
    if (error) {
        std::filesystem::remove(partial, error);
        return "cannot rename " + partial.string() + " to " + path.string() + ": " + error.message();
    }
    return {};
}

} // namespace corvane::testmodel
