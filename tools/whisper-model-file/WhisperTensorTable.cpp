#include "WhisperTensorTable.h"

namespace corvane::modelfile {

std::vector<WhisperTensorEntry> whisperTensorTable(const WhisperHyperparameters& h)
{
    std::vector<WhisperTensorEntry> table;
    int32_t state = h.audioState;
    const auto add = [&table](std::string name, std::vector<int32_t> dimensions, TensorRole role) {
        table.push_back({std::move(name), std::move(dimensions), role});
    };
    const auto layerNorm = [&](const std::string& name) {
        add(name + ".weight", {state}, TensorRole::Float32);
        add(name + ".bias", {state}, TensorRole::Float32);
    };
    // Whisper's key projections have no bias.
    const auto linear = [&](const std::string& name, int32_t inputs, int32_t outputs, bool bias = true) {
        add(name + ".weight", {inputs, outputs}, TensorRole::Matrix);
        if (bias)
            add(name + ".bias", {outputs}, TensorRole::Float32);
    };
    const auto attention = [&](const std::string& name) {
        linear(name + ".query", state, state);
        linear(name + ".key", state, state, false);
        linear(name + ".value", state, state);
        linear(name + ".out", state, state);
    };
    const auto block = [&](const std::string& name, bool cross) {
        layerNorm(name + ".mlp_ln");
        linear(name + ".mlp.0", state, 4 * state);
        linear(name + ".mlp.2", 4 * state, state);
        layerNorm(name + ".attn_ln");
        attention(name + ".attn");
        if (cross) {
            layerNorm(name + ".cross_attn_ln");
            attention(name + ".cross_attn");
        }
    };

    add("encoder.positional_embedding", {state, h.audioContext}, TensorRole::Float32);
    // whisper.cpp keeps a convolution's bias as a column.
    add("encoder.conv1.weight", {3, h.melBands, state}, TensorRole::Convolution);
    add("encoder.conv1.bias", {1, state}, TensorRole::Float32);
    add("encoder.conv2.weight", {3, state, state}, TensorRole::Convolution);
    add("encoder.conv2.bias", {1, state}, TensorRole::Float32);
    for (int32_t layer = 0; layer < h.audioLayers; ++layer)
        block("encoder.blocks." + std::to_string(layer), false);
    layerNorm("encoder.ln_post");

    state = h.textState;
    add("decoder.positional_embedding", {state, h.textContext}, TensorRole::Float32);
    add("decoder.token_embedding.weight", {state, h.vocabularySize}, TensorRole::Matrix);
    for (int32_t layer = 0; layer < h.textLayers; ++layer)
        block("decoder.blocks." + std::to_string(layer), true);
    layerNorm("decoder.ln");
    return table;
}

} // namespace corvane::modelfile
