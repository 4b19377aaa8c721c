#pragma once

// Damaged copies of a small model, one for each kind of damage a model file
// from the internet or a user can have, with what the model check says of it.

#include "TestModelShape.h"
#include "TestModelWriter.h"
#include "WhisperTensorTable.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::test {

/// The "mini" test model, weight-less or with every tensor (zeros; 7 MB).
inline std::string miniModelBytes(bool withTensors)
{
    const auto shape = *testmodel::findTestModelShape("mini");
    std::ostringstream out;
    testmodel::writeTestModel(shape, out);
    for (const auto& tensor : withTensors ? modelfile::whisperTensorTable(shape) : std::vector<modelfile::WhisperTensorEntry>{}) {
        const int32_t type = tensor.role == modelfile::TensorRole::Float32 ? 0 : 1; // f32 : f16
        size_t bytes = 4 - 2 * type;
        for (int32_t value : {static_cast<int32_t>(tensor.dimensions.size()), static_cast<int32_t>(tensor.name.size()), type})
            modelfile::putI32(out, value);
        for (int32_t dimension : tensor.dimensions)
            modelfile::putI32(out, dimension), bytes *= static_cast<size_t>(dimension);
        out << tensor.name << std::string(bytes, '\0');
    }
    return out.str();
}

enum DamageBase { Weightless, Complete, Directory, Missing };

struct ModelDamage {
    const char* name;
    DamageBase base;
    std::function<void(std::string&)> damage;
    const char* says; ///< A part of the reason, or for an accepted file ("accepted" set) of its warnings.
    bool accepted = false;

    /// Writes the damaged file (or folder) into `folder`; returns its path.
    std::filesystem::path write(const std::filesystem::path& folder) const
    {
        static const std::string weightless = miniModelBytes(false), complete = miniModelBytes(true);
        std::filesystem::create_directories(folder), std::filesystem::remove_all(folder / name);
        std::string bytes = base == Complete ? complete : weightless;
        if (damage)
            damage(bytes);
        if (base == Directory)
            std::filesystem::create_directories(folder / name);
        else if (base != Missing)
            std::ofstream(folder / name, std::ios::binary) << bytes;
        return folder / name;
    }
};

/// The rows, in file order. Offsets: hyperparameters from byte 4, the mel
/// filter header at 48, the vocabulary at 64376, tensors after it.
inline std::vector<ModelDamage> modelDamages()
{
    const auto set = [](size_t offset, int32_t value) {
        return [=](std::string& b) { for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<char>(static_cast<uint32_t>(value) >> (8 * i)); };
    };
    // The first tensor, [64, 1500] f32: its header's fields lie 20, 16, 12, 8 and 4 bytes before its name.
    const std::string first = "encoder.positional_embedding";
    return {
        {"empty", Weightless, [](std::string& b) { b.clear(); }, "empty file"},
        {"directory", Directory, {}, "a directory"},
        {"missing", Missing, {}, "cannot be opened: No such file"},
        {"random-bytes", Weightless, [](std::string& b) { for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(i * 7919 >> 3); }, "not a ggml Whisper model (magic 0x"},
        {"weight-type-out-of-range", Weightless, set(44, 77), "ftype = 77 is not a weight type"},
        {"weight-type-f32", Weightless, set(44, 0), "ftype = 0 (f32)"},
        {"weight-type-needs-wider-rows", Weightless, set(44, 12), "q4_K needs widths in multiples of 256"},
        {"layer-count-absurd", Weightless, set(20, 100000), "hyperparameter n_audio_layer = 100000 outside 1..32"},
        {"mel-band-count-absurd", Weightless, set(40, 100000), "hyperparameter n_mels = 100000, not 80 or 128"},
        {"vocabulary-size-too-small", Weightless, set(4, 100), "hyperparameter n_vocab = 100 outside 51864..51866"},
        {"text-context-absurd", Weightless, set(24, 100000), "n_text_ctx = 100000 outside 448..448"},
        {"heads-do-not-divide-width", Weightless, set(16, 3), "n_audio_head = 3 does not divide the width 64"},
        {"widths-disagree", Weightless, set(28, 128), "n_text_state = 128, n_audio_state = 64"},
        {"mel-filters-disagree", Weightless, set(48, 81), "mel filters: 81 bands, but n_mels = 80"},
        {"truncated-1000", Weightless, [](std::string& b) { b.resize(1000); }, "truncated: the mel filter block needs 64320 bytes, 944 left"},
        {"truncated-in-the-first-tensor-header", Weightless, [](std::string& b) { b.append(4, '\1'); }, "truncated: the first tensor header needs 12 bytes, 4 left"},
        {"vocabulary-count-too-large", Weightless, set(64376, 60000), "token count 60000 outside 0..51864"},
        {"token-length-absurd", Weightless, set(64380, -1), "truncated: vocabulary token 0 needs 4294967295 bytes"},
        {"tensor-dimension-count", Complete, [=](std::string& b) { set(b.find(first) - 20, 1000)(b); }, "dimension count 1000 outside 1..4"},
        {"tensor-name-length", Complete, [=](std::string& b) { set(b.find(first) - 16, -5)(b); }, "name length -5 outside 1..64"},
        {"tensor-type-out-of-range", Complete, [=](std::string& b) { set(b.find(first) - 12, 99)(b); }, "has type 99 (not a ggml type), expected f32"},
        {"tensor-type-wrong", Complete, [=](std::string& b) { set(b.find(first) - 12, 1)(b); }, "has type f16, expected f32"},
        {"tensor-shape-wrong", Complete, [=](std::string& b) { set(b.find(first) - 8, 65)(b); }, "has shape [65, 1500], expected [64, 1500]"},
        {"garbage-in-a-name", Complete, [=](std::string& b) { b[b.find(first) + 3] = '\x01'; }, "unknown tensor 'enc\\x01der.positional_embedding'"},
        {"tensor-twice", Complete, [](std::string& b) { b[b.find("encoder.conv2.bias") + 12] = '1'; }, "tensor 'encoder.conv1.bias' appears twice"},
        {"truncated-in-weights", Complete, [](std::string& b) { b.resize(b.find("decoder.token_embedding.weight") + 30 + 1000); }, "truncated: tensor 'decoder.token_embedding.weight' needs 6638592 bytes, 1000 left"},
        {"tensor-missing", Complete, [](std::string& b) { b.resize(b.find("decoder.ln.bias") - 16); }, "incomplete: 49 of 50 tensors; 'decoder.ln.bias' is missing"},
        {"bytes-after-the-last-tensor", Complete, [](std::string& b) { b.append(100, '\0'); }, "100 bytes follow the last tensor"},
        {"a-few-bytes-after-the-last-tensor", Complete, [](std::string& b) { b.append(5, '\0'); }, "5 bytes after the last tensor, ignored", true},
        {"garbage-in-weights", Complete, [](std::string& b) { for (size_t i = 0; i < 4096; ++i) b[b.size() / 2 + i] = static_cast<char>(i * 31); }, "", true},
        {"weightless", Weightless, {}, "no tensors: a weight-less model", true},
    };
}

} // namespace corvane::test
