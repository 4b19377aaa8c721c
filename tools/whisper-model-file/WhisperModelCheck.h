#pragma once

#include "WhisperFileHeader.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvane::modelfile {

/// What checkWhisperModelFile() found.
struct ModelFileReport {
    /// Empty when the file is accepted; otherwise one line saying why not,
    /// e.g. "truncated: tensor 'decoder.token_embedding.weight' needs
    /// 39831552 bytes, 1000 left".
    std::string reason;
    /// Things worth a log line in a file that is accepted all the same, e.g.
    /// stray bytes after the last tensor, or no weights at all.
    std::vector<std::string> warnings;
    /// The hyperparameters as read (complete only when accepted).
    WhisperHyperparameters hyperparameters;
    /// Tensors found; 0 for a weight-less (test) model.
    int tensorCount = 0;
    /// The bytes whisper.cpp allocates for the weights (also when the file
    /// holds none): what loading the model will cost in memory at least.
    uint64_t weightBytes = 0;

    bool accepted() const { return reason.empty(); }
};

/// Checks that `path` is a ggml Whisper model that whisper.cpp 1.9.1 loads
/// and runs on its CPU backend, without trusting anything the file says:
/// the magic; every hyperparameter within the range of real Whisper models
/// and consistent with the others; the mel filter bank and the vocabulary
/// sized as the hyperparameters say; and the tensor table, each tensor known,
/// present once, with the shape and type whisper.cpp creates it with, and its
/// data inside the file. A file with no tensors at all is a weight-less test
/// model, which whisper.cpp accepts; it passes with a warning.
///
/// Reads only the header, the vocabulary and the tensor headers (the weights
/// are skipped), never past the end of the file, with memory that does not
/// grow with what the file claims. Bad input of any kind (a directory, an
/// empty or unreadable file) gives a reason, never an exception; only running
/// out of memory can throw. Safe to call from any thread.
ModelFileReport checkWhisperModelFile(const std::filesystem::path& path);

} // namespace corvane::modelfile
