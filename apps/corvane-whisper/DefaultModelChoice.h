#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvane::cli {

/// The folders the node looks in for its default model, in its order: beside
/// the program, then the build tree's files folder.
std::vector<std::filesystem::path> defaultModelFolders();

/// A stand-in for the node's default model when the node would not find it in
/// nodeFolders: the best model present in nodeFolders and then moreFolders
/// (the installed models folder), base.en before small.en before tiny.en,
/// earlier folders first. "" when the node finds its own default (it loads
/// it) or when no model is present anywhere (the node reports that).
std::string chooseStandInModel(const std::vector<std::filesystem::path>& nodeFolders,
                               const std::vector<std::filesystem::path>& moreFolders = {});

} // namespace corvane::cli
