#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvane::modelimport {

/// A file kept whole, or in numbered parts (NAME.part1, NAME.part2, ...) that
/// read in order as one. Packages that cap their files' size ship large models
/// split that way; reading them in place spares joining hundreds of megabytes
/// on disk first.
/// Used by one thread at a time: reading moves the open part's position.
class PartedFile {
public:
    /// Opens `path`, or else its parts. Raises ModelImportError when neither
    /// exists or a number is missing from the parts' sequence.
    explicit PartedFile(const std::filesystem::path& path);

    /// The whole length, every part together.
    uint64_t size() const { return total; }

    /// Copies `count` bytes from `offset` on into `into`; false when they run
    /// past the end or a part cannot be read.
    bool read(uint64_t offset, char* into, size_t count);

    /// How messages name it: the path, or the first and last part's.
    const std::string& name() const { return label; }

    /// True when kept in parts; a missing last part then shows only as an end
    /// that comes too soon.
    bool isParted() const { return parted; }

private:
    struct Part {
        std::filesystem::path path;
        uint64_t start = 0;
        uint64_t size = 0;
    };

    bool openPart(size_t index);

    std::vector<Part> parts;
    uint64_t total = 0;
    std::string label;
    bool parted = false;
    std::ifstream stream;
    size_t openIndex = SIZE_MAX;
};

} // namespace corvane::modelimport
