#pragma once

#include <CLI/CLI.hpp>

#include "CommandLineOptions.h"

namespace corvane::cli {

/// Adds the "import-model" subcommand, filling the import fields of options.
void addImportModelCommand(CLI::App& app, CommandLineOptions& options);

} // namespace corvane::cli
