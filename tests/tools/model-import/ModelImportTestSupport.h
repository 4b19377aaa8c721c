#pragma once

#include <ggml.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace corvane::test {

/// A small CTranslate2 Whisper folder laid out as CTranslate2's converter writes one. Element i of every variable
/// holds value(i), which float16 and int8 with a scale of 256 hold exactly.
struct SyntheticCTranslate2Model {
    int32_t state = 64, heads = 4, layers = 2, mels = 80, audioContext = 24, textContext = 16, vocabulary = 260;
    uint32_t version = 6;
    uint8_t matrixType = 0;    ///< CTranslate2 type of the weight matrices: 0 float32, 4 float16, 1 int8...
    std::string shortVariable; ///< Written one row short.

    static float value(size_t i) { return static_cast<float>(static_cast<int>(i % 251) - 125) / 256.0f; }

    /// With `parts` > 1, model.bin is written as model.bin.part1... of about equal length.
    void write(const std::filesystem::path& folder, int parts = 1) const
    {
        std::string body;
        uint32_t count = 0;
        const auto put = [&body](const auto& v) { body.append(reinterpret_cast<const char*>(&v), sizeof v); };
        const auto header = [&](const std::string& id, const std::vector<uint32_t>& shape, uint8_t type, uint32_t bytes) {
            put(static_cast<uint16_t>(id.size() + 1)), body.append(id.c_str(), id.size() + 1), put(static_cast<uint8_t>(shape.size()));
            for (uint32_t d : shape)
                put(d);
            put(type), put(bytes), ++count;
        };
        const auto variable = [&](const std::string& id, std::vector<uint32_t> shape) {
            shape[0] -= id == shortVariable ? 1 : 0;
            const uint32_t elements = shape[0] * (shape.size() > 1 ? shape[1] : 1) * (shape.size() > 2 ? shape[2] : 1);
            const uint8_t type = shape.size() == 2 && id.ends_with("weight") ? matrixType : 0;
            header(id, shape, type, elements * (type == 4 ? 2 : type == 1 ? 1 : 4));
            for (size_t i = 0; i < elements; ++i)
                type == 4 ? put(static_cast<_Float16>(value(i))) : type == 1 ? put(static_cast<int8_t>(value(i) * 256)) : put(value(i));
            if (type == 1) // int8 weights come with one scale per row
                header(id + "_scale", {shape[0]}, 0, 4 * shape[0]);
            for (uint32_t row = 0; type == 1 && row < shape[0]; ++row)
                put(256.0f);
        };
        const auto s = static_cast<uint32_t>(state);
        const auto norm = [&](const std::string& id) { variable(id + "/gamma", {s}), variable(id + "/beta", {s}); };
        const auto linear = [&](const std::string& id, uint32_t out, uint32_t in) { variable(id + "/weight", {out, in}), variable(id + "/bias", {out}); };
        for (const std::string stack : {"encoder", "decoder"}) {
            const bool decoder = stack == "decoder";
            if (decoder)
                variable("decoder/embeddings/weight", {static_cast<uint32_t>(vocabulary), s});
            else
                variable("encoder/conv1/weight", {s, static_cast<uint32_t>(mels), 3}), variable("encoder/conv1/bias", {s}),
                    variable("encoder/conv2/weight", {s, s, 3}), variable("encoder/conv2/bias", {s});
            variable(stack + "/position_encodings/encodings", {static_cast<uint32_t>(decoder ? textContext : audioContext), s});
            header(stack + "/num_heads", {}, 2, 2), put(static_cast<int16_t>(heads));
            for (int l = 0; l < layers; ++l) {
                const std::string layer = stack + "/layer_" + std::to_string(l);
                norm(layer + "/self_attention/layer_norm");
                linear(layer + "/self_attention/linear_0", 3 * s, s), linear(layer + "/self_attention/linear_1", s, s);
                if (decoder)
                    norm(layer + "/attention/layer_norm"), linear(layer + "/attention/linear_0", s, s),
                        linear(layer + "/attention/linear_1", 2 * s, s), linear(layer + "/attention/linear_2", s, s);
                norm(layer + "/ffn/layer_norm");
                linear(layer + "/ffn/linear_0", 4 * s, s), linear(layer + "/ffn/linear_1", s, 4 * s);
            }
            norm(stack + "/layer_norm");
        }
        std::filesystem::create_directories(folder);
        const uint32_t revision = 3, aliases = 0;
        const auto word = [](const uint32_t& v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
        body = word(version) + std::string("\x0c\0WhisperSpec\0", 14) + word(revision) + word(count) + body + word(aliases);
        const size_t length = body.size() / static_cast<size_t>(parts) + 1;
        for (int part = 0; part < parts; ++part)
            std::ofstream(folder / ("model.bin" + (parts > 1 ? ".part" + std::to_string(part + 1) : "")), std::ios::binary)
                << body.substr(static_cast<size_t>(part) * length, length);
        std::ofstream(folder / "config.json") << "{\"suppress_ids\": []}\n";
        // Byte-level spellings: printable ASCII as itself, U+0120 for a space, U+00C3 U+00A9 for the bytes of "é",
        // U+00C3 alone for a lone byte 0xC3.
        std::ofstream spellings(folder / "vocabulary.txt", std::ios::binary);
        for (char c = '!'; c <= '~'; ++c)
            spellings << c << '\n';
        spellings << "\u0120\n\u00C3\u00A9\n\u00C3\n<|endoftext|>\n<|startoftranscript|>\n";
    }
};

/// A ggml Whisper file read back whole, every tensor widened to float32.
struct GgmlModelFile {
    struct Tensor { int32_t type = 0; std::vector<int32_t> dimensions; std::vector<float> values; };
    std::vector<int32_t> header; // the magic, then the 11 hyperparameters in file order
    std::vector<float> melFilters;
    std::vector<std::string> tokens;
    std::map<std::string, Tensor> tensors;

    explicit GgmlModelFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        const auto i32 = [&in] { int32_t v = 0; in.read(reinterpret_cast<char*>(&v), 4); return v; };
        const auto bytes = [&in](size_t n) { std::string s(n, '\0'); in.read(s.data(), static_cast<std::streamsize>(n)); return s; };
        for (int i = 0; i < 12; ++i)
            header.push_back(i32());
        melFilters.resize(static_cast<size_t>(i32()) * static_cast<size_t>(i32()));
        in.read(reinterpret_cast<char*>(melFilters.data()), static_cast<std::streamsize>(melFilters.size() * 4));
        for (int32_t i = 0, n = i32(); i < n; ++i)
            tokens.push_back(bytes(static_cast<uint32_t>(i32())));
        while (in.peek() != EOF) {
            const int32_t rank = i32(), nameLength = i32();
            Tensor tensor{i32(), std::vector<int32_t>(static_cast<size_t>(rank)), {}};
            int64_t count = 1;
            for (int32_t& d : tensor.dimensions)
                count *= d = i32();
            const std::string name = bytes(static_cast<size_t>(nameLength));
            const auto type = static_cast<ggml_type>(tensor.type);
            const std::string data = bytes(ggml_row_size(type, count));
            tensor.values.resize(static_cast<size_t>(count));
            if (type == GGML_TYPE_F32)
                std::memcpy(tensor.values.data(), data.data(), data.size());
            else
                ggml_get_type_traits(type)->to_float(data.data(), tensor.values.data(), count);
            tensors[name] = std::move(tensor);
        }
    }
};

} // namespace corvane::test
