#include <cstdio>

#include "CommandError.h"
#include "Commands.h"
#include "ModelImportError.h"
#include "WhisperModelImport.h"

namespace corvane::cli {

int runImportModel(const CommandLineOptions& options)
{
    const auto type = modelimport::parseWeightType(options.importType);
    if (!type)
        throw CommandError("unknown weight type " + options.importType, kExitUsage);
    try {
        modelimport::importCTranslate2Whisper(options.importSource, options.importOutput, *type);
    } catch (const modelimport::ModelImportError& error) {
        throw CommandError(error.what());
    }
    std::fprintf(stderr, "corvane-whisper: wrote %s (%s)\n", options.importOutput.c_str(), options.importType.c_str());
    // whisper.cpp 1.9.1's CPU convolution asserts on a float32 kernel.
    if (*type == modelimport::WeightType::F32)
        std::fputs("corvane-whisper: note: whisper.cpp's CPU backend cannot run f32 files; use f16 to transcribe\n",
                   stderr);
    return kExitSuccess;
}

} // namespace corvane::cli
