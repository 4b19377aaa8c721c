#pragma once

#include "PartedFile.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace corvane::modelimport {

/// CTranslate2's element types, numbered as in its model.bin.
enum class CTranslate2DataType : uint8_t { Float32 = 0, Int8 = 1, Int16 = 2, Int32 = 3, Float16 = 4, BFloat16 = 5 };

/// Where one named variable's data sits in model.bin.
struct CTranslate2Variable {
    std::vector<int64_t> shape; ///< Row-major, outermost first; empty for a scalar.
    CTranslate2DataType type = CTranslate2DataType::Float32;
    uint64_t offset = 0;
    uint64_t byteCount = 0;

    int64_t elementCount() const;
};

/// A CTranslate2 model.bin: a header (format version, model type name such as "WhisperSpec", revision),
/// then named variables, each with its shape, element type and raw
/// little-endian data, then aliases naming one variable by another's name.
/// The index is read at once; data is read when asked for, so a large model
/// is never held in memory whole. model.bin may be kept in numbered parts
/// (see PartedFile).
/// Used by one thread at a time: reading moves the file position.
class CTranslate2Model {
public:
    /// The format versions whose layout this reader knows.
    static constexpr uint32_t oldestVersion = 4;
    static constexpr uint32_t newestVersion = 6;

    /// Reads the index of `path` (or of its parts); raises ModelImportError
    /// for a missing, truncated or unsupported file.
    explicit CTranslate2Model(const std::filesystem::path& path);

    const std::string& modelTypeName() const { return modelType; }

    /// The variable (or alias) called `name`, or nullptr.
    const CTranslate2Variable* find(const std::string& name) const;

    /// Like find(), but a missing variable raises ModelImportError.
    const CTranslate2Variable& get(const std::string& name) const;

    /// Every variable name, aliases excluded, in file order.
    std::vector<std::string> names() const;

    /// The variable's values as float32. Integer weights are divided by their
    /// "<name>_scale" variable, as CTranslate2 quantised them.
    std::vector<float> floats(const std::string& name);

    /// The value of an integer scalar such as "encoder/num_heads".
    int64_t integer(const std::string& name);

private:
    std::vector<char> readBytes(const CTranslate2Variable& variable);

    PartedFile file;
    std::string modelType;
    std::map<std::string, CTranslate2Variable> variables;
    std::vector<std::string> order;
    std::map<std::string, std::string> aliases;
};

} // namespace corvane::modelimport
