#include "GgmlTensorWriter.h"

#include "ModelImportError.h"
#include "WhisperFileHeader.h"

#include <vector>

#include <ggml.h>

namespace corvane::modelimport {
namespace {

ggml_type matrixType(WeightType type)
{
    switch (type) {
    case WeightType::F32:
        return GGML_TYPE_F32;
    case WeightType::F16:
        return GGML_TYPE_F16;
    case WeightType::Q8_0:
        return GGML_TYPE_Q8_0;
    case WeightType::Q5_1:
        return GGML_TYPE_Q5_1;
    case WeightType::Q5_0:
        return GGML_TYPE_Q5_0;
    case WeightType::Q4_0:
        return GGML_TYPE_Q4_0;
    }
    return GGML_TYPE_F32;
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
    return matrixType(type);
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
    switch (type) {
    case WeightType::F32:
        return GGML_FTYPE_ALL_F32;
    case WeightType::F16:
        return GGML_FTYPE_MOSTLY_F16;
    case WeightType::Q8_0:
        return GGML_QNT_VERSION * GGML_QNT_VERSION_FACTOR + GGML_FTYPE_MOSTLY_Q8_0;
    case WeightType::Q5_1:
        return GGML_QNT_VERSION * GGML_QNT_VERSION_FACTOR + GGML_FTYPE_MOSTLY_Q5_1;
    case WeightType::Q5_0:
        return GGML_QNT_VERSION * GGML_QNT_VERSION_FACTOR + GGML_FTYPE_MOSTLY_Q5_0;
    case WeightType::Q4_0:
        return GGML_QNT_VERSION * GGML_QNT_VERSION_FACTOR + GGML_FTYPE_MOSTLY_Q4_0;
    }
    return GGML_FTYPE_MOSTLY_F16;
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
