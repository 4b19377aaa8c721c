#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::modelfile::detail {

/// Reads an open file from front to back, never past the size it had when
/// opened. Skipping costs nothing (reads are positioned), so a check can walk
/// a model's layout without touching its weights. Its memory is one fixed
/// buffer, whatever the file claims about itself.
/// Used by one thread at a time.
class BoundedFileReader {
public:
    /// Takes ownership of `descriptor`.
    BoundedFileReader(int descriptor, uint64_t size);
    ~BoundedFileReader();
    BoundedFileReader(const BoundedFileReader&) = delete;
    BoundedFileReader& operator=(const BoundedFileReader&) = delete;

    uint64_t position() const { return offset; }
    uint64_t remaining() const { return fileSize - offset; }

    /// Copies the next `count` bytes; the caller has made sure they are there.
    /// Raises std::runtime_error when the file cannot be read (an I/O error,
    /// or a file shrunk since it was opened).
    void read(void* into, uint64_t count);
    void skip(uint64_t count) { offset += count; }

    /// A little-endian 32-bit value, as ggml files hold them.
    uint32_t readU32();
    int32_t readI32() { return static_cast<int32_t>(readU32()); }

private:
    int descriptor;
    uint64_t fileSize;
    uint64_t offset = 0;
    std::vector<unsigned char> buffer;
    uint64_t bufferStart = 0; ///< The file offset of buffer[0].
};

} // namespace corvane::modelfile::detail
