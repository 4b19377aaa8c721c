#include "PartedFile.h"

#include "ModelImportError.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace corvane::modelimport {
namespace {

/// The number N of a file named "<whole>.partN", or 0 for any other name.
unsigned partNumber(const std::string& fileName, const std::string& whole)
{
    const std::string prefix = whole + ".part";
    if (!fileName.starts_with(prefix) || fileName.size() == prefix.size())
        return 0;
    unsigned number = 0;
    const char* end = fileName.data() + fileName.size();
    const auto [stop, error] = std::from_chars(fileName.data() + prefix.size(), end, number);
    return error == std::errc{} && stop == end ? number : 0;
}

} // namespace

PartedFile::PartedFile(const std::filesystem::path& path)
{
    std::error_code error;
    std::vector<std::filesystem::path> paths;
    if (std::filesystem::is_regular_file(path, error)) {
        paths.push_back(path);
        label = path.string();
    } else {
        std::map<unsigned, std::filesystem::path> numbered;
        const std::string whole = path.filename().string();
        const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            const unsigned number = partNumber(entry.path().filename().string(), whole);
            if (number > 0 && entry.is_regular_file(error) && !numbered.emplace(number, entry.path()).second)
                throw ModelImportError("two parts of " + path.string() + " are numbered " + std::to_string(number));
        }
        if (numbered.empty())
            throw ModelImportError("missing file " + path.string() + " (nor is it there in parts: " + whole +
                                   ".part1, .part2, ...)");
        // Parts are read in order, so a gap would silently shift every byte after it.
        for (unsigned expected = 1; const auto& [number, partPath] : numbered) {
            if (number != expected)
                throw ModelImportError("missing file " + path.string() + ".part" + std::to_string(expected) +
                                       " (the parts found go up to .part" + std::to_string(numbered.rbegin()->first) + ")");
            paths.push_back(partPath);
            ++expected;
        }
        parted = true;
        label = paths.front().string() + (paths.size() > 1 ? " to ." + paths.back().extension().string().substr(1) : "");
    }
    for (auto& partPath : paths) {
        const uint64_t size = std::filesystem::file_size(partPath, error);
        if (error)
            throw ModelImportError("cannot read " + partPath.string());
        parts.push_back({std::move(partPath), total, size});
        total += size;
    }
}

bool PartedFile::openPart(size_t index)
{
    if (index == openIndex)
        return true;
    stream.close();
    stream.clear();
    stream.open(parts[index].path, std::ios::binary);
    openIndex = stream ? index : SIZE_MAX;
    return stream.good();
}

bool PartedFile::read(uint64_t offset, char* into, size_t count)
{
    if (offset > total || count > total - offset)
        return false;
    // The last part starting at or before offset.
    auto part = std::upper_bound(parts.begin(), parts.end(), offset,
                                 [](uint64_t value, const Part& p) { return value < p.start; }) - 1;
    while (count > 0) {
        const uint64_t within = offset - part->start;
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, part->size - within));
        if (chunk > 0) {
            if (!openPart(static_cast<size_t>(part - parts.begin())))
                return false;
            stream.clear();
            stream.seekg(static_cast<std::streamoff>(within));
            if (!stream.read(into, static_cast<std::streamsize>(chunk)))
                return false;
        }
        into += chunk, offset += chunk, count -= chunk;
        ++part;
    }
    return true;
}

} // namespace corvane::modelimport
