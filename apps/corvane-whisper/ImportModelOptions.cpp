#include "ImportModelOptions.h"

#include "WeightType.h"

namespace corvane::cli {

void addImportModelCommand(CLI::App& app, CommandLineOptions& options)
{
    CLI::App* command = app.add_subcommand(
        "import-model",
        "Convert a CTranslate2 (faster-whisper) Whisper model folder into a ggml model file for whisper.cpp");
    command->add_option("SRC_DIR", options.importSource,
                        "Folder with model.bin, config.json and vocabulary.txt or vocabulary.json")
        ->required();
    command->add_option("OUT", options.importOutput, "ggml model file to write")->required();
    const std::string types = modelimport::weightTypeNames();
    command->add_option("--type", options.importType, "Storage of the weight matrices (default: f16)")
        ->check(CLI::Validator(
            [types](std::string& text) -> std::string {
                return modelimport::parseWeightType(text) ? std::string() : "'" + text + "' is not one of " + types;
            },
            types, ""));
}

} // namespace corvane::cli
