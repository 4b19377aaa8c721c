#include "WhisperTensorLayout.h"

#include "ModelImportError.h"

#include <algorithm>

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

/// Emits tensors with their shapes checked, slicing fused projections.
/// Lives on the importing thread only.
class TensorEmitter {
public:
    TensorEmitter(CTranslate2Model& model, const std::function<void(WhisperTensor&&)>& consume)
        : model(model), consume(consume) {}

    /// `source` must have `shape`; the tensor is its `part`-th of `parts`
    /// equal row blocks. ggml lists dimensions innermost first.
    void emit(const std::string& name, TensorRole role, const std::string& source, const Shape& shape,
              int part = 0, int parts = 1)
    {
        const CTranslate2Variable& variable = model.get(source);
        if (variable.shape != shape)
            throw ModelImportError("shapes disagree: " + source + " is " + describe(variable.shape) +
                                   ", but the model's other tensors make it " + describe(shape));
        std::vector<float> values = model.floats(source);
        const size_t length = values.size() / static_cast<size_t>(parts);
        if (parts > 1)
            values = std::vector<float>(values.begin() + static_cast<std::ptrdiff_t>(length * part),
                                        values.begin() + static_cast<std::ptrdiff_t>(length * (part + 1)));

        WhisperTensor tensor{name, {}, role, std::move(values)};
        Shape partShape = shape;
        partShape[0] /= parts;
        for (auto dimension = partShape.rbegin(); dimension != partShape.rend(); ++dimension)
            tensor.dimensions.push_back(static_cast<int32_t>(*dimension));
        // whisper.cpp keeps a convolution's bias as a column.
        if (name.ends_with("conv1.bias") || name.ends_with("conv2.bias"))
            tensor.dimensions.insert(tensor.dimensions.begin(), 1);
        consume(std::move(tensor));
    }

    void layerNorm(const std::string& name, const std::string& source, int64_t width)
    {
        emit(name + ".weight", TensorRole::Float32, source + "/gamma", {width});
        emit(name + ".bias", TensorRole::Float32, source + "/beta", {width});
    }

    void linear(const std::string& name, const std::string& source, int64_t outputs, int64_t inputs,
                int part = 0, int parts = 1, bool bias = true)
    {
        emit(name + ".weight", TensorRole::Matrix, source + "/weight", {outputs * parts, inputs}, part, parts);
        if (bias)
            emit(name + ".bias", TensorRole::Float32, source + "/bias", {outputs * parts}, part, parts);
    }

    void feedForward(const std::string& block, const std::string& source, int64_t state)
    {
        layerNorm(block + ".mlp_ln", source + "/ffn/layer_norm", state);
        linear(block + ".mlp.0", source + "/ffn/linear_0", 4 * state, state);
        linear(block + ".mlp.2", source + "/ffn/linear_1", state, 4 * state);
    }

    /// CTranslate2 fuses the query, key and value projections of
    /// self-attention into one; Whisper's key projection has no bias.
    void selfAttention(const std::string& block, const std::string& source, int64_t state)
    {
        const std::string fused = source + "/self_attention/linear_0";
        layerNorm(block + ".attn_ln", source + "/self_attention/layer_norm", state);
        linear(block + ".attn.query", fused, state, state, 0, 3);
        linear(block + ".attn.key", fused, state, state, 1, 3, false);
        linear(block + ".attn.value", fused, state, state, 2, 3);
        linear(block + ".attn.out", source + "/self_attention/linear_1", state, state);
    }

    /// Cross-attention: the query alone, then key and value fused.
    void crossAttention(const std::string& block, const std::string& source, int64_t state)
    {
        layerNorm(block + ".cross_attn_ln", source + "/attention/layer_norm", state);
        linear(block + ".cross_attn.query", source + "/attention/linear_0", state, state);
        linear(block + ".cross_attn.key", source + "/attention/linear_1", state, state, 0, 2, false);
        linear(block + ".cross_attn.value", source + "/attention/linear_1", state, state, 1, 2);
        linear(block + ".cross_attn.out", source + "/attention/linear_2", state, state);
    }

private:
    CTranslate2Model& model;
    const std::function<void(WhisperTensor&&)>& consume;
};

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
    TensorEmitter out(model, consume);
    const int64_t state = h.audioState;

    out.emit("encoder.positional_embedding", TensorRole::Float32, "encoder/position_encodings/encodings",
             {h.audioContext, state});
    out.emit("encoder.conv1.weight", TensorRole::Convolution, "encoder/conv1/weight", {state, h.melBands, 3});
    out.emit("encoder.conv1.bias", TensorRole::Float32, "encoder/conv1/bias", {state});
    out.emit("encoder.conv2.weight", TensorRole::Convolution, "encoder/conv2/weight", {state, state, 3});
    out.emit("encoder.conv2.bias", TensorRole::Float32, "encoder/conv2/bias", {state});
    for (int32_t layer = 0; layer < h.audioLayers; ++layer) {
        const std::string block = "encoder.blocks." + std::to_string(layer);
        const std::string source = "encoder/layer_" + std::to_string(layer);
        out.feedForward(block, source, state);
        out.selfAttention(block, source, state);
    }
    out.layerNorm("encoder.ln_post", "encoder/layer_norm", state);

    out.emit("decoder.positional_embedding", TensorRole::Float32, "decoder/position_encodings/encodings",
             {h.textContext, state});
    out.emit("decoder.token_embedding.weight", TensorRole::Matrix, "decoder/embeddings/weight",
             {h.vocabularySize, state});
    for (int32_t layer = 0; layer < h.textLayers; ++layer) {
        const std::string block = "decoder.blocks." + std::to_string(layer);
        const std::string source = "decoder/layer_" + std::to_string(layer);
        out.feedForward(block, source, state);
        out.selfAttention(block, source, state);
        out.crossAttention(block, source, state);
    }
    out.layerNorm("decoder.ln", "decoder/layer_norm", state);
}

} // namespace corvane::modelimport
