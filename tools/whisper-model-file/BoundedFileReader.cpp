#include "BoundedFileReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <unistd.h>

namespace corvane::modelfile::detail {
namespace {
// Enough for a ggml tensor header, and for the vocabulary in few reads.
constexpr size_t bufferCapacity = 16 * 1024;
} // namespace

BoundedFileReader::BoundedFileReader(int fd, uint64_t size) : descriptor(fd), fileSize(size)
{
    buffer.reserve(bufferCapacity);
}

BoundedFileReader::~BoundedFileReader()
{
    ::close(descriptor);
}

void BoundedFileReader::read(void* into, uint64_t count)
{
    if (count > remaining())
        throw std::out_of_range("read past the end of the file");
    auto* out = static_cast<unsigned char*>(into);
    while (count > 0) {
        if (offset < bufferStart || offset >= bufferStart + buffer.size()) {
            buffer.resize(static_cast<size_t>(std::min<uint64_t>(bufferCapacity, fileSize - offset)));
            bufferStart = offset;
            size_t filled = 0;
            while (filled < buffer.size()) {
                const ssize_t got = ::pread(descriptor, buffer.data() + filled, buffer.size() - filled,
                                            static_cast<off_t>(offset + filled));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0)
                    throw std::runtime_error(std::string("cannot be read: ") + std::strerror(errno));
                if (got == 0)
                    throw std::runtime_error("cannot be read: it shrank while being checked");
                filled += static_cast<size_t>(got);
            }
        }
        const auto available = bufferStart + buffer.size() - offset;
        const auto take = std::min(count, available);
        std::memcpy(out, buffer.data() + (offset - bufferStart), static_cast<size_t>(take));
        out += take;
        offset += take;
        count -= take;
    }
}

uint32_t BoundedFileReader::readU32()
{
    unsigned char bytes[4];
    read(bytes, 4);
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

} // namespace corvane::modelfile::detail
