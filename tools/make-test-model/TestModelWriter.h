#pragma once

#include "TestModelShape.h"

#include <filesystem>
#include <ostream>
#include <string>

namespace corvane::testmodel {

/// Writes a ggml Whisper model that has a header, mel filters and a vocabulary
/// but no tensors. whisper.cpp loads such a file as a model with
/// uninitialised weights and runs it at the full cost of the real one; its own
/// test models are files of this kind. The output depends on the shape alone.
void writeTestModel(const TestModelShape& shape, std::ostream& out);

/// Writes the model to `path`, creating missing folders. The file appears
/// complete or not at all, so a build interrupted halfway never leaves a
/// truncated model that looks up to date. Returns an empty string on success,
/// otherwise what went wrong.
std::string writeTestModelFile(const TestModelShape& shape, const std::filesystem::path& path);

} // namespace corvane::testmodel
