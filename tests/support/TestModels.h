#pragma once

#include <filesystem>
#include <string>

namespace corvane::test {

/// The weight-less models the build writes: they load and run at a real
/// model's cost and produce noise text.
inline std::string weightlessTinyModel() { return std::string(CORVANE_TEST_DATA_DIR) + "/for-tests-ggml-tiny.en.bin"; }
inline std::string weightlessBaseModel() { return std::string(CORVANE_TEST_DATA_DIR) + "/for-tests-ggml-base.en.bin"; }

/// A file from the shared folder beside the checkout, or "" when it is absent.
inline std::string sharedFile(const std::string& relativePath)
{
    const auto path = std::filesystem::path(CORVANE_SHARED_DIR) / relativePath;
    return std::filesystem::exists(path) ? path.string() : std::string();
}

/// The real tiny.en model, or "" (tests that need real weights skip then).
inline std::string realTinyModel() { return sharedFile("models/ggml-tiny.en.bin"); }

} // namespace corvane::test
