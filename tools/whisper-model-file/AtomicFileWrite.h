#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace corvane::modelfile {

/// Writes `path` through `write`, creating missing folders. The content goes
/// to a temporary file beside it that is renamed into place only when
/// complete, so a failure (an exception from `write` included) never leaves a
/// truncated file that looks finished, nor the temporary. Returns an empty
/// string on success, otherwise what went wrong. Exceptions from `write` are
/// passed on after the clean-up.
std::string writeFileAtomically(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write);

} // namespace corvane::modelfile
