// Any bytes as a model file: the check never crashes, and whisper.cpp loads every file it accepts, reading the
// hyperparameters the check read. (Larger accepted models are not loaded: they cost more memory than libFuzzer allows.)

#include <filesystem>
#include <fstream>

#include <unistd.h>
#include <whisper.h>

#include "FuzzCheck.h"
#include "WhisperModelCheck.h"
#include "WhisperTensorTable.h"

namespace {

struct ScratchFile {
    const std::string path = (std::filesystem::temp_directory_path() / ("fuzz-model-" + std::to_string(::getpid()))).string();
    ~ScratchFile() { std::filesystem::remove(path); }
};

size_t weightCount(const corvane::modelfile::WhisperHyperparameters& h)
{
    size_t count = 0;
    for (const auto& tensor : corvane::modelfile::whisperTensorTable(h)) {
        size_t elements = 1;
        for (int32_t dimension : tensor.dimensions)
            elements *= static_cast<size_t>(dimension);
        count += elements;
    }
    return count;
}

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
    if (!report.accepted() || weightCount(report.hyperparameters) > 64'000'000) // tiny.en has 39 million
        return 0;

    auto parameters = whisper_context_default_params();
    parameters.use_gpu = false;
    whisper_context* context = whisper_init_from_file_with_params(file.path.c_str(), parameters);
    FUZZ_CHECK(context != nullptr);
    const auto& h = report.hyperparameters;
    FUZZ_CHECK(whisper_model_n_vocab(context) == h.vocabularySize && whisper_model_n_audio_state(context) == h.audioState &&
               whisper_model_n_audio_layer(context) == h.audioLayers && whisper_model_n_text_layer(context) == h.textLayers &&
               whisper_model_n_mels(context) == h.melBands && whisper_model_ftype(context) == h.fileType % 1000);
    whisper_free(context);
    return 0;
}
