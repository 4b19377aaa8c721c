#include "WhisperFileHeader.h"

#include "MelFilterBank.h"

#include <array>
#include <bit>

namespace corvane::modelfile {
namespace {
constexpr uint32_t ggmlFileMagic = 0x67676d6c;
} // namespace

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

void writeWhisperHeader(std::ostream& out, const WhisperHyperparameters& h, const std::vector<std::string>& tokens)
{
    putU32(out, ggmlFileMagic);
    for (int32_t value : {h.vocabularySize, h.audioContext, h.audioState, h.audioHeads, h.audioLayers,
                          h.textContext, h.textState, h.textHeads, h.textLayers, h.melBands, h.fileType})
        putI32(out, value);

    const auto filters = makeWhisperMelFilterBank(h.melBands);
    putI32(out, filters.bands);
    putI32(out, filters.fftBins);
    for (float weight : filters.weights)
        putF32(out, weight);

    putI32(out, static_cast<int32_t>(tokens.size()));
    for (const auto& token : tokens) {
        putU32(out, static_cast<uint32_t>(token.size()));
        out.write(token.data(), static_cast<std::streamsize>(token.size()));
    }
}

} // namespace corvane::modelfile
