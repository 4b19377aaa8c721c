// Compiled into libwhisper when ggml's CPU backend is built for every x86-64
// feature level (CORVANE_PORTABLE_CPU): each level is a libggml-cpu-<level>.so
// beside libwhisper, and ggml registers none of them until someone loads one.
// ggml's own search looks beside the executable, which for an application
// that loads our extension is nowhere near these libraries. So libwhisper
// loads the best variant from its own folder as it is itself loaded, before
// any caller can ask for a backend: the extension in a host, the tests and the
// benchmarks all get the same behaviour without a call of their own.
//
// Runs once, on the thread that loads the library, before anything else in it.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include <ggml-backend.h>
#include <ggml.h>

namespace {

void discardLog(ggml_log_level, const char*, void*) {}

std::string folderOfThisLibrary()
{
    static const char marker = 0;
    Dl_info info{};
    if (dladdr(&marker, &info) == 0 || info.dli_fname == nullptr)
        return ".";
    const std::string path = info.dli_fname;
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

__attribute__((constructor)) void loadCpuBackend() noexcept
{
    if (ggml_backend_dev_by_type(GGML_BACKEND_DEVICE_TYPE_CPU) != nullptr)
        return; // the application loaded one already
    std::string folder;
    // ggml announces every backend it loads on stderr, before any
    // application could have set its own log callback.
    ggml_log_callback previousLog = nullptr;
    void* previousData = nullptr;
    ggml_log_get(&previousLog, &previousData);
    ggml_log_set(discardLog, nullptr);
    try {
        folder = folderOfThisLibrary();
        ggml_backend_load_all_from_path(folder.c_str());
    } catch (...) {
        // A folder that cannot be read is reported below like an empty one.
    }
    ggml_log_set(previousLog, previousData);
    if (ggml_backend_dev_by_type(GGML_BACKEND_DEVICE_TYPE_CPU) == nullptr)
        std::fprintf(stderr, "libwhisper: no CPU backend for this processor in %s (libggml-cpu-*.so)\n",
                     folder.c_str());
}

} // namespace
