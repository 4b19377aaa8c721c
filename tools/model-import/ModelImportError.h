#pragma once

#include <stdexcept>

namespace corvane::modelimport {

/// Why an import cannot go on, worded as one line for the user.
class ModelImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace corvane::modelimport
