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
    return kExitSuccess;
}

} // namespace corvane::cli
