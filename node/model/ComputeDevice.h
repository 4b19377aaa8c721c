#pragma once

#include <string>

#include <whisper.h>

namespace corvane::extensions::whisper {

/// How a context is created from a model file: whisper.cpp's own function,
/// unless a test puts a stand-in in its place.
using ContextInit = whisper_context* (*)(const char* path, whisper_context_params params);

/// Creates the whisper.cpp context for `modelPath` on the GPU that whisper.cpp
/// takes for `use_gpu` (the first GPU ggml lists) when `params.use_gpu` asks
/// for one and it starts, otherwise on the CPU, and logs one line saying
/// where it runs. A GPU that fails to start or to take the model is logged as
/// an error, and the model goes to the CPU instead. Null when the model
/// cannot be loaded at all; never throws. Runs on the loading thread.
whisper_context* loadOnDevice(const std::string& modelPath, whisper_context_params params,
                              ContextInit init = &whisper_init_from_file_with_params);

} // namespace corvane::extensions::whisper
