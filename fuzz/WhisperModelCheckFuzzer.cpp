// Any bytes as a model file: the check never crashes, and whisper.cpp loads every file it accepts, reading the
// hyperparameters the check read. (Larger accepted models are not loaded: they cost more memory than libFuzzer allows.)

#include <filesystem>
#include <fstream>

#include <unistd.h>
#include <whisper.h>

#include "FuzzCheck.h"
#include "WhisperModelCheck.h"

namespace {

// In memory where there is a tmpfs: on a busy disk, truncating a file has stalled for seconds.
struct ScratchFile {
    const std::string path = ((std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path()) / ("fuzz-model-" + std::to_string(::getpid()))).string();
    ~ScratchFile() { std::filesystem::remove(path); }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ScratchFile file;
    std::ofstream(file.path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const auto report = corvane::modelfile::checkWhisperModelFile(file.path);
    if (!report.accepted() || report.weightBytes > 100'000'000) // tiny.en has 78 MB
        return 0;

    whisper_context* context = whisper_init_from_file_with_params(file.path.c_str(), whisper_context_default_params());
    FUZZ_CHECK(context != nullptr);
    const auto& h = report.hyperparameters;
    FUZZ_CHECK(whisper_model_n_vocab(context) == h.vocabularySize && whisper_model_n_audio_state(context) == h.audioState &&
               whisper_model_n_audio_layer(context) == h.audioLayers && whisper_model_n_text_layer(context) == h.textLayers &&
               whisper_model_n_mels(context) == h.melBands && whisper_model_ftype(context) == h.fileType % 1000);
    whisper_free(context);
    return 0;
}
