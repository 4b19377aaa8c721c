#include "WhisperTensorLayout.h"

#include "ModelImportError.h"

#include <array>
#include <span>
#include <string_view>

namespace corvane::modelimport {
namespace {

using modelfile::WhisperHyperparameters;
using Shape = std::vector<int64_t>;

std::string describe(const Shape& shape)
{
    std::string text = "[";
    for (size_t i = 0; i < shape.size(); ++i)
        text += (i ? ", " : "") + std::to_string(shape[i]);
    return text + "]";
}

const CTranslate2Variable& variableOfRank(const CTranslate2Model& model, const std::string& name, size_t rank)
{
    const CTranslate2Variable& variable = model.get(name);
    if (variable.shape.size() != rank)
        throw ModelImportError("shapes disagree: " + name + " is " + describe(variable.shape) + ", expected " +
                               std::to_string(rank) + " dimensions");
    return variable;
}

int32_t countLayers(const CTranslate2Model& model, const std::string& stack)
{
    int32_t layers = 0;
    while (model.find(stack + "/layer_" + std::to_string(layers) + "/self_attention/linear_0/weight"))
        ++layers;
    if (layers == 0)
        throw ModelImportError("model.bin has no " + stack + " layers (is it a CTranslate2 Whisper model?)");
    return layers;
}

int32_t headCount(CTranslate2Model& model, const std::string& stack, int32_t state)
{
    // Older conversions do not store the head count; every Whisper size has
    // 64-wide heads.
    const auto heads = model.find(stack + "/num_heads") ? model.integer(stack + "/num_heads") : state / 64;
    if (heads <= 0 || state % heads != 0)
        throw ModelImportError("shapes disagree: " + stack + " has " + std::to_string(heads) +
                               " attention heads, which do not divide its width " + std::to_string(state));
    return static_cast<int32_t>(heads);
}

/// Where a ggml tensor's values lie in a CTranslate2 model: a variable, or
/// the `part`-th of `parts` equal row blocks of one, since CTranslate2 fuses
/// self-attention's query, key and value projections, and cross-attention's
/// key and value.
struct Source {
    std::string_view module; ///< whisper.cpp's name, without "<stack>.blocks.<n>." and the last part.
    std::string_view variable;
    int part = 0;
    int parts = 1;
};

constexpr std::array<Source, 7> kModelSources{{
    {"encoder.positional_embedding", "encoder/position_encodings/encodings"},
    {"encoder.conv1", "encoder/conv1"},
    {"encoder.conv2", "encoder/conv2"},
    {"encoder.ln_post", "encoder/layer_norm"},
    {"decoder.positional_embedding", "decoder/position_encodings/encodings"},
    {"decoder.token_embedding", "decoder/embeddings"},
    {"decoder.ln", "decoder/layer_norm"},
}};

constexpr std::array<Source, 13> kLayerSources{{
    {"mlp_ln", "ffn/layer_norm"},
    {"mlp.0", "ffn/linear_0"},
    {"mlp.2", "ffn/linear_1"},
    {"attn_ln", "self_attention/layer_norm"},
    {"attn.query", "self_attention/linear_0", 0, 3},
    {"attn.key", "self_attention/linear_0", 1, 3},
    {"attn.value", "self_attention/linear_0", 2, 3},
    {"attn.out", "self_attention/linear_1"},
    {"cross_attn_ln", "attention/layer_norm"},
    {"cross_attn.query", "attention/linear_0"},
    {"cross_attn.key", "attention/linear_1", 0, 2},
    {"cross_attn.value", "attention/linear_1", 1, 2},
    {"cross_attn.out", "attention/linear_2"},
}};

/// The CTranslate2 variable behind the ggml tensor `name`, e.g.
/// "encoder.blocks.3.attn.key.weight" -> part 1 of 3 of
/// "encoder/layer_3/self_attention/linear_0/weight".
std::pair<std::string, Source> sourceOf(const std::string& name)
{
    for (const Source& source : kModelSources)
        if (source.module == name) // the positional embeddings: no ".weight"
            return {std::string(source.variable), source};
    std::string module = name.substr(0, name.rfind('.'));
    std::string leaf = name.substr(module.size() + 1);
    std::string layer;
    const std::span<const Source> sources = module.find(".blocks.") == std::string::npos
                                                ? std::span<const Source>(kModelSources)
                                                : std::span<const Source>(kLayerSources);
    if (const auto blocks = module.find(".blocks."); blocks != std::string::npos) {
        const auto number = blocks + 8, end = module.find('.', number);
        layer = module.substr(0, blocks) + "/layer_" + module.substr(number, end - number) + "/";
        module.erase(0, end + 1);
    }
    for (const Source& source : sources)
        if (source.module == module) {
            if (source.variable.ends_with("layer_norm"))
                leaf = leaf == "weight" ? "gamma" : "beta";
            return {layer + std::string(source.variable) + "/" + leaf, source};
        }
    throw ModelImportError("no CTranslate2 variable holds " + name);
}

} // namespace

WhisperHyperparameters readWhisperHyperparameters(CTranslate2Model& model)
{
    if (model.modelTypeName() != "WhisperSpec")
        throw ModelImportError("model.bin holds a CTranslate2 " + model.modelTypeName() + ", not a Whisper model");

    const auto& embeddings = variableOfRank(model, "decoder/embeddings/weight", 2);
    const auto& audioPositions = variableOfRank(model, "encoder/position_encodings/encodings", 2);
    const auto& textPositions = variableOfRank(model, "decoder/position_encodings/encodings", 2);
    const auto& convolution = variableOfRank(model, "encoder/conv1/weight", 3);

    WhisperHyperparameters h;
    h.vocabularySize = static_cast<int32_t>(embeddings.shape[0]);
    h.audioContext = static_cast<int32_t>(audioPositions.shape[0]);
    h.audioState = static_cast<int32_t>(audioPositions.shape[1]);
    h.audioLayers = countLayers(model, "encoder");
    h.audioHeads = headCount(model, "encoder", h.audioState);
    h.textContext = static_cast<int32_t>(textPositions.shape[0]);
    h.textState = static_cast<int32_t>(textPositions.shape[1]);
    h.textLayers = countLayers(model, "decoder");
    h.textHeads = headCount(model, "decoder", h.textState);
    h.melBands = static_cast<int32_t>(convolution.shape[1]);

    if (h.audioState != h.textState || embeddings.shape[1] != h.textState)
        throw ModelImportError("shapes disagree: encoder width " + std::to_string(h.audioState) + ", decoder width " +
                               std::to_string(h.textState) + ", token embedding width " +
                               std::to_string(embeddings.shape[1]));
    if (h.melBands != 80 && h.melBands != 128)
        throw ModelImportError("shapes disagree: encoder/conv1/weight takes " + std::to_string(h.melBands) +
                               " mel bands; Whisper models take 80 or 128");
    return h;
}

void forEachWhisperTensor(CTranslate2Model& model, const WhisperHyperparameters& h,
                          const std::function<void(WhisperTensor&&)>& consume)
{
    for (auto& entry : modelfile::whisperTensorTable(h)) {
        const auto [variableName, source] = sourceOf(entry.name);
        // CTranslate2 lists dimensions outermost first, and keeps a
        // convolution's bias, a column to whisper.cpp, as a plain vector.
        Shape shape(entry.dimensions.rbegin(), entry.dimensions.rend());
        if (shape.size() == 2 && shape[1] == 1)
            shape.pop_back();
        shape[0] *= source.parts;
        const CTranslate2Variable& variable = model.get(variableName);
        if (variable.shape != shape)
            throw ModelImportError("shapes disagree: " + variableName + " is " + describe(variable.shape) +
                                   ", but the model's other tensors make it " + describe(shape));

        std::vector<float> values = model.floats(variableName);
        if (source.parts > 1) {
            const auto length = static_cast<std::ptrdiff_t>(values.size()) / source.parts;
            values = std::vector<float>(values.begin() + length * source.part, values.begin() + length * (source.part + 1));
        }
        WhisperTensor tensor;
        static_cast<modelfile::WhisperTensorEntry&>(tensor) = std::move(entry);
        tensor.values = std::move(values);
        consume(std::move(tensor));
    }
}

} // namespace corvane::modelimport
