#include "CTranslate2Model.h"

#include "ModelImportError.h"

#include <bit>
#include <cstring>

#include <ggml.h>

namespace corvane::modelimport {
namespace {

size_t elementSize(CTranslate2DataType type)
{
    switch (type) {
    case CTranslate2DataType::Int8:
        return 1;
    case CTranslate2DataType::Int16:
    case CTranslate2DataType::Float16:
    case CTranslate2DataType::BFloat16:
        return 2;
    case CTranslate2DataType::Float32:
    case CTranslate2DataType::Int32:
        return 4;
    }
    return 0;
}

/// Reads the index sequentially, turning any short read into one error.
/// Lives on the constructing thread only.
class IndexReader {
public:
    explicit IndexReader(PartedFile& file) : file(file) {}

    template <typename T>
    T read()
    {
        unsigned char bytes[sizeof(T)];
        readRaw(bytes, sizeof(T));
        std::make_unsigned_t<T> value = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<std::make_unsigned_t<T>>(static_cast<std::make_unsigned_t<T>>(bytes[i]) << (8 * i));
        return static_cast<T>(value);
    }

    /// A length-prefixed string; CTranslate2 counts and writes the closing NUL.
    std::string readString()
    {
        const auto length = read<uint16_t>();
        std::string text(length, '\0');
        readRaw(text.data(), length);
        if (!text.empty() && text.back() == '\0')
            text.pop_back();
        return text;
    }

    /// Moves past `bytes` of data, which must lie within the file.
    void skip(uint64_t bytes)
    {
        if (bytes > file.size() - position)
            truncated();
        position += bytes;
    }

    uint64_t offset() const { return position; }

    [[noreturn]] void truncated() const
    {
        if (file.isParted())
            throw ModelImportError(file.name() + ": the parts end before the model does; is a later part missing?");
        throw ModelImportError(file.name() + " is truncated or is not a CTranslate2 model");
    }

private:
    void readRaw(void* into, size_t size)
    {
        if (!file.read(position, static_cast<char*>(into), size))
            truncated();
        position += size;
    }

    PartedFile& file;
    uint64_t position = 0;
};

} // namespace

int64_t CTranslate2Variable::elementCount() const
{
    int64_t count = 1;
    for (int64_t dimension : shape)
        count *= dimension;
    return count;
}

CTranslate2Model::CTranslate2Model(const std::filesystem::path& modelPath) : file(modelPath)
{
    IndexReader reader(file);
    const auto version = reader.read<uint32_t>();
    if (version < oldestVersion || version > newestVersion)
        throw ModelImportError(file.name() + " has CTranslate2 format version " + std::to_string(version) +
                               "; this importer reads versions " + std::to_string(oldestVersion) + " to " +
                               std::to_string(newestVersion));
    modelType = reader.readString();
    reader.read<uint32_t>(); // the model type's revision: its variable names are what we check

    const auto count = reader.read<uint32_t>();
    for (uint32_t i = 0; i < count; ++i) {
        const std::string name = reader.readString();
        CTranslate2Variable variable;
        const auto rank = reader.read<uint8_t>();
        for (uint8_t d = 0; d < rank; ++d)
            variable.shape.push_back(reader.read<uint32_t>());
        const auto typeId = reader.read<uint8_t>();
        if (typeId > static_cast<uint8_t>(CTranslate2DataType::BFloat16))
            throw ModelImportError(file.name() + ": variable " + name + " has unsupported element type " +
                                   std::to_string(typeId));
        variable.type = static_cast<CTranslate2DataType>(typeId);
        variable.byteCount = reader.read<uint32_t>();
        variable.offset = reader.offset();
        // A damaged shape may claim more elements than 64 bits count; none of
        // them passes, since the data holds at most 2^32 bytes.
        uint64_t elements = 1;
        for (const int64_t dimension : variable.shape)
            if (__builtin_mul_overflow(elements, static_cast<uint64_t>(dimension), &elements))
                elements = UINT64_MAX;
        if (elements > variable.byteCount || variable.byteCount != elements * elementSize(variable.type))
            throw ModelImportError(file.name() + ": variable " + name + " holds " +
                                   std::to_string(variable.byteCount) + " bytes, which disagrees with its shape");
        reader.skip(variable.byteCount);
        order.push_back(name);
        variables[name] = std::move(variable);
    }

    const auto aliasCount = reader.read<uint32_t>();
    for (uint32_t i = 0; i < aliasCount; ++i) {
        std::string alias = reader.readString();
        aliases[std::move(alias)] = reader.readString();
    }
}

const CTranslate2Variable* CTranslate2Model::find(const std::string& name) const
{
    const auto alias = aliases.find(name);
    const auto found = variables.find(alias == aliases.end() ? name : alias->second);
    return found == variables.end() ? nullptr : &found->second;
}

const CTranslate2Variable& CTranslate2Model::get(const std::string& name) const
{
    if (const auto* variable = find(name))
        return *variable;
    throw ModelImportError(file.name() + " has no variable " + name + " (is it a CTranslate2 Whisper model?)");
}

std::vector<std::string> CTranslate2Model::names() const
{
    return order;
}

std::vector<char> CTranslate2Model::readBytes(const CTranslate2Variable& variable)
{
    std::vector<char> bytes(variable.byteCount);
    if (!file.read(variable.offset, bytes.data(), bytes.size()))
        throw ModelImportError("cannot read " + file.name());
    return bytes;
}

std::vector<float> CTranslate2Model::floats(const std::string& name)
{
    const CTranslate2Variable& variable = get(name);
    const std::vector<char> bytes = readBytes(variable);
    const auto count = static_cast<size_t>(variable.elementCount());
    std::vector<float> values(count);

    // Every CTranslate2 platform writes little-endian data, as x86 and ARM are.
    static_assert(std::endian::native == std::endian::little, "model.bin data is read in place");
    switch (variable.type) {
    case CTranslate2DataType::Float32:
        std::memcpy(values.data(), bytes.data(), bytes.size());
        return values;
    case CTranslate2DataType::Float16:
        ggml_fp16_to_fp32_row(reinterpret_cast<const ggml_fp16_t*>(bytes.data()), values.data(),
                              static_cast<int64_t>(count));
        return values;
    case CTranslate2DataType::BFloat16:
        for (size_t i = 0; i < count; ++i) {
            uint16_t high = 0;
            std::memcpy(&high, bytes.data() + 2 * i, 2);
            values[i] = std::bit_cast<float>(static_cast<uint32_t>(high) << 16);
        }
        return values;
    case CTranslate2DataType::Int8:
    case CTranslate2DataType::Int16:
    case CTranslate2DataType::Int32:
        break;
    }

    // Quantised weights: CTranslate2 stored round(w * scale), with one scale
    // per output row (int8) or one for the whole tensor (int16).
    const CTranslate2Variable* scaleVariable = find(name + "_scale");
    if (!scaleVariable || variable.type == CTranslate2DataType::Int32)
        throw ModelImportError(file.name() + ": variable " + name + " has integer type " +
                               std::to_string(static_cast<int>(variable.type)) +
                               " without a scale; only float32, float16, bfloat16 and int8/int16 weights are supported");
    const std::vector<float> scales = floats(name + "_scale");
    const size_t rows = scales.size();
    if (rows == 0 || count % rows != 0)
        throw ModelImportError(file.name() + ": the scale of " + name + " disagrees with its shape");
    const size_t rowLength = count / rows;
    for (size_t i = 0; i < count; ++i) {
        int32_t quantised = 0;
        if (variable.type == CTranslate2DataType::Int8) {
            quantised = static_cast<int8_t>(bytes[i]);
        } else {
            int16_t wide = 0;
            std::memcpy(&wide, bytes.data() + 2 * i, 2);
            quantised = wide;
        }
        values[i] = static_cast<float>(quantised) / scales[i / rowLength];
    }
    return values;
}

int64_t CTranslate2Model::integer(const std::string& name)
{
    const CTranslate2Variable& variable = get(name);
    const std::vector<char> bytes = readBytes(variable);
    if (variable.elementCount() != 1)
        throw ModelImportError(file.name() + ": " + name + " is not a scalar");
    int64_t value = 0;
    switch (variable.type) {
    case CTranslate2DataType::Int8:
        return static_cast<int8_t>(bytes[0]);
    case CTranslate2DataType::Int16: {
        int16_t narrow = 0;
        std::memcpy(&narrow, bytes.data(), 2);
        return narrow;
    }
    case CTranslate2DataType::Int32: {
        int32_t wide = 0;
        std::memcpy(&wide, bytes.data(), 4);
        return wide;
    }
    default:
        value = static_cast<int64_t>(floats(name).front());
    }
    return value;
}

} // namespace corvane::modelimport
