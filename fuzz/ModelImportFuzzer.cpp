// A CTranslate2 folder of any bytes ends in a ModelImportError or a ggml file, never a crash or another exception.
// Input: a flags byte (bit 0: vocabulary.json, not .txt; bits 1-3: weight type), vocabulary, config.json, model.bin.

#include <filesystem>
#include <fstream>
#include <string_view>

#include <unistd.h>

#include "FuzzCheck.h"
#include "ModelImportError.h"
#include "WhisperModelImport.h"

namespace {

namespace fs = std::filesystem;
using namespace corvane::modelimport;
constexpr std::string_view kSeparator = "\n--part--\n";

// In memory where there is a tmpfs (see WhisperModelCheckFuzzer.cpp).
struct ScratchFolder {
    const fs::path path = (fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) / ("fuzz-import-" + std::to_string(::getpid()));
    ~ScratchFolder() { fs::remove_all(path); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ScratchFolder folder;
    if (size == 0)
        return 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    fs::remove_all(folder.path), fs::create_directories(folder.path);
    for (const char* name : {data[0] & 1 ? "vocabulary.json" : "vocabulary.txt", "config.json", "model.bin"}) {
        const auto end = std::string(name) == "model.bin" ? rest.size() : std::min(rest.find(kSeparator), rest.size());
        std::ofstream(folder.path / name, std::ios::binary) << rest.substr(0, end);
        rest.remove_prefix(std::min(rest.size(), end + kSeparator.size()));
    }
    try {
        importCTranslate2Whisper(folder.path, folder.path / "out.bin", static_cast<WeightType>((data[0] >> 1) % 6));
        FUZZ_CHECK(fs::exists(folder.path / "out.bin"));
    } catch (const ModelImportError&) {
        FUZZ_CHECK(!fs::exists(folder.path / "out.bin"));
    }
    return 0;
}
