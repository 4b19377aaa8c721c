#include "ComputeDevice.h"

#include <exception>

#include <corvane/core/Logger.h>
#include <ggml-backend.h>

namespace corvane::extensions::whisper {

namespace {

/// The device whisper.cpp runs on with `use_gpu` and `gpu_device` 0: the first
/// GPU or integrated GPU in ggml's registry. Null when there is none: a build
/// with the CPU backend alone, no driver, or (for Vulkan) only CPU-type
/// devices such as lavapipe, which ggml lists only when GGML_VK_VISIBLE_DEVICES
/// names them.
ggml_backend_dev_t firstGpu() noexcept
{
    try {
        for (std::size_t i = 0; i < ggml_backend_dev_count(); ++i) {
            ggml_backend_dev_t device = ggml_backend_dev_get(i);
            const enum ggml_backend_dev_type type = ggml_backend_dev_type(device);
            if (type == GGML_BACKEND_DEVICE_TYPE_GPU || type == GGML_BACKEND_DEVICE_TYPE_IGPU)
                return device;
        }
    } catch (...) {
        // A backend that cannot list its devices offers none.
    }
    return nullptr;
}

/// Starts the device once and stops it again. whisper.cpp goes on without a
/// GPU that will not start, but with the model's weights already placed on
/// it, which ggml then aborts the process over at the first run. Empty when
/// it started; otherwise why not.
std::string tryStarting(ggml_backend_dev_t device) noexcept
{
    try {
        ggml_backend_t backend = ggml_backend_dev_init(device, nullptr);
        if (backend == nullptr)
            return "the device did not start";
        ggml_backend_free(backend);
        return {};
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

/// whisper.cpp lets a device's exceptions (Vulkan's vk::SystemError) out of
/// the state it creates after the model.
whisper_context* create(ContextInit init, const std::string& path, const whisper_context_params& params,
                        std::string& failure) noexcept
{
    try {
        return init(path.c_str(), params);
    } catch (const std::exception& error) {
        failure = error.what();
    } catch (...) {
        failure = "unknown error";
    }
    return nullptr;
}

} // namespace

whisper_context* loadOnDevice(const std::string& modelPath, whisper_context_params params, ContextInit init)
{
    params.gpu_device = 0;
    std::string failure;
    if (!params.use_gpu) {
        Logger::info("[WhisperSTTNode] Running on the CPU: useGPU is false.");
        return create(init, modelPath, params, failure);
    }

    ggml_backend_dev_t gpu = firstGpu();
    params.use_gpu = false;
    if (gpu == nullptr) {
        Logger::info("[WhisperSTTNode] Running on the CPU: no usable GPU found.");
        return create(init, modelPath, params, failure);
    }
    const std::string device = std::string(ggml_backend_dev_name(gpu)) + " (" + ggml_backend_dev_description(gpu) + ")";
    failure = tryStarting(gpu);
    if (!failure.empty()) {
        Logger::error("[WhisperSTTNode] GPU " + device + " failed to start: " + failure + "; running on the CPU.");
        return create(init, modelPath, params, failure);
    }

    params.use_gpu = true;
    if (whisper_context* context = create(init, modelPath, params, failure)) {
        Logger::info("[WhisperSTTNode] Running on GPU " + device + ".");
        return context;
    }
    // A file that is no model fails on the CPU as well, and the caller says
    // so; only a model that loads there was the device's failure.
    params.use_gpu = false;
    std::string cpuFailure;
    whisper_context* context = create(init, modelPath, params, cpuFailure);
    if (context != nullptr)
        Logger::error("[WhisperSTTNode] GPU " + device + " could not take the model" +
                      (failure.empty() ? "" : ": " + failure) + "; running on the CPU.");
    return context;
}

} // namespace corvane::extensions::whisper
