#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvane::cli {

/// What the node loads when no model is named (see ModelLocation in the node).
inline constexpr const char* kDefaultModelFileName = "ggml-base.en.bin";

/// The folders the node looks in for its default model, in its order: beside
/// the program, then the build tree's files folder.
std::vector<std::filesystem::path> defaultModelFolders();

/// A stand-in for the node's default model when that is absent from every
/// folder: the best model present there, base.en before small.en before
/// tiny.en. "" when the node's own default is present (the node loads it) or
/// when none is present (the node reports that).
std::string chooseStandInModel(const std::vector<std::filesystem::path>& folders);

} // namespace corvane::cli
