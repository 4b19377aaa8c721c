#include "WhisperModelImport.h"

#include "AtomicFileWrite.h"
#include "ByteLevelVocabulary.h"
#include "CTranslate2Model.h"
#include "GgmlTensorWriter.h"
#include "ModelImportError.h"
#include "WhisperControlTokens.h"
#include "WhisperTensorLayout.h"

#include <fstream>

#include <nlohmann/json.hpp>

namespace corvane::modelimport {
namespace {

/// The converter writes config.json with the decoding settings; nothing in it
/// shapes the ggml file, but a folder without a readable one is not a
/// complete model.
void checkConfiguration(const std::filesystem::path& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw ModelImportError("missing file " + path.string());
    std::ifstream in(path, std::ios::binary);
    if (!nlohmann::json::accept(in))
        throw ModelImportError(path.string() + " is not valid JSON");
}

} // namespace

void importCTranslate2Whisper(const std::filesystem::path& sourceFolder, const std::filesystem::path& output,
                              WeightType weightType)
{
    std::error_code error;
    if (!std::filesystem::is_directory(sourceFolder, error))
        throw ModelImportError("not a model folder: " + sourceFolder.string());
    CTranslate2Model model(sourceFolder / "model.bin");
    checkConfiguration(sourceFolder / "config.json");
    const std::vector<std::string> spellings = readVocabularySpellings(sourceFolder);
    const std::vector<std::string> tokens = decodeByteLevelVocabulary(spellings, sourceFolder);

    auto hyperparameters = readWhisperHyperparameters(model);
    hyperparameters.fileType = whisperFileType(weightType);
    checkWhisperControlTokens(spellings, static_cast<int32_t>(tokens.size()) - 1, hyperparameters.vocabularySize);

    const std::string failure = modelfile::writeFileAtomically(output, [&](std::ostream& out) {
        modelfile::writeWhisperHeader(out, hyperparameters, tokens);
        forEachWhisperTensor(model, hyperparameters,
                             [&](WhisperTensor&& tensor) { writeGgmlTensor(out, tensor, weightType); });
    });
    if (!failure.empty())
        throw ModelImportError(failure);
}

} // namespace corvane::modelimport
