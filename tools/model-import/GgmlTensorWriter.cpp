#include "GgmlTensorWriter.h"

#include "ModelImportError.h"
#include "WhisperFileHeader.h"

#include <array>
#include <vector>

#include <ggml.h>

namespace corvane::modelimport {
namespace {

/// How each weight type stores the weight matrices, and the file type that
/// whisper.cpp's loader reads it by.
struct Storage {
    WeightType type;
    ggml_type matrices;
    ggml_ftype fileType;
};

constexpr std::array<Storage, 6> kStorage{{
    {WeightType::F32, GGML_TYPE_F32, GGML_FTYPE_ALL_F32},
    {WeightType::F16, GGML_TYPE_F16, GGML_FTYPE_MOSTLY_F16},
    {WeightType::Q8_0, GGML_TYPE_Q8_0, GGML_FTYPE_MOSTLY_Q8_0},
    {WeightType::Q5_1, GGML_TYPE_Q5_1, GGML_FTYPE_MOSTLY_Q5_1},
    {WeightType::Q5_0, GGML_TYPE_Q5_0, GGML_FTYPE_MOSTLY_Q5_0},
    {WeightType::Q4_0, GGML_TYPE_Q4_0, GGML_FTYPE_MOSTLY_Q4_0},
}};

const Storage& storageOf(WeightType type)
{
    for (const Storage& storage : kStorage)
        if (storage.type == type)
            return storage;
    return kStorage[1];
}

ggml_type storageType(const WhisperTensor& tensor, WeightType type)
{
    switch (tensor.role) {
    case TensorRole::Float32:
        return GGML_TYPE_F32;
    case TensorRole::Convolution:
        return type == WeightType::F32 ? GGML_TYPE_F32 : GGML_TYPE_F16;
    case TensorRole::Matrix:
        break;
    }
    return storageOf(type).matrices;
}

std::vector<char> encode(const WhisperTensor& tensor, ggml_type type)
{
    const auto count = static_cast<int64_t>(tensor.values.size());
    const int64_t rowLength = tensor.dimensions.front();
    if (type == GGML_TYPE_F32) {
        const auto* bytes = reinterpret_cast<const char*>(tensor.values.data());
        return {bytes, bytes + count * static_cast<int64_t>(sizeof(float))};
    }
    if (type != GGML_TYPE_F16 && rowLength % ggml_blck_size(type) != 0)
        throw ModelImportError("cannot store " + tensor.name + " as " + ggml_type_name(type) + ": its rows of " +
                               std::to_string(rowLength) + " values do not split into blocks of " +
                               std::to_string(ggml_blck_size(type)));
    std::vector<char> data(ggml_row_size(type, rowLength) * static_cast<size_t>(count / rowLength));
    const size_t written =
        ggml_quantize_chunk(type, tensor.values.data(), data.data(), 0, count / rowLength, rowLength, nullptr);
    data.resize(written);
    return data;
}

} // namespace

int32_t whisperFileType(WeightType type)
{
    // Quantized files carry the version of ggml's block layouts as well.
    const Storage& storage = storageOf(type);
    return ggml_is_quantized(storage.matrices) ? GGML_QNT_VERSION * GGML_QNT_VERSION_FACTOR + storage.fileType
                                               : storage.fileType;
}

void writeGgmlTensor(std::ostream& out, const WhisperTensor& tensor, WeightType type)
{
    const ggml_type stored = storageType(tensor, type);
    const std::vector<char> data = encode(tensor, stored);

    modelfile::putI32(out, static_cast<int32_t>(tensor.dimensions.size()));
    modelfile::putI32(out, static_cast<int32_t>(tensor.name.size()));
    modelfile::putI32(out, static_cast<int32_t>(stored));
    for (int32_t dimension : tensor.dimensions)
        modelfile::putI32(out, dimension);
    out.write(tensor.name.data(), static_cast<std::streamsize>(tensor.name.size()));
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

} // namespace corvane::modelimport
