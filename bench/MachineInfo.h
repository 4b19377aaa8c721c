#pragma once

// What every speed figure is printed with: the CPU it was measured on, the
// SIMD extensions that decide which of ggml's kernels can run there, and the
// features the ggml CPU backend in use was compiled for (in a portable build,
// the variant chosen at load time).

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include <whisper.h>

namespace corvane::bench {

/// The value of the first "<key> : value" line of /proc/cpuinfo, or "".
inline std::string cpuInfoField(const std::string& key)
{
    std::ifstream cpuInfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuInfo, line);) {
        const std::string::size_type colon = line.find(':');
        if (colon == std::string::npos || line.compare(0, key.size(), key) != 0)
            continue;
        const std::string::size_type value = line.find_first_not_of(' ', colon + 1);
        return value == std::string::npos ? std::string() : line.substr(value);
    }
    return {};
}

/// Those of the x86-64 extensions ggml's kernels use that this CPU has.
inline std::string simdFlags()
{
    const std::string flags = " " + cpuInfoField("flags") + " ";
    std::string present;
    for (const char* flag : {"sse4_2", "avx", "f16c", "fma", "avx2", "bmi2", "avx_vnni", "avx512f", "avx512bw",
                             "avx512vl", "avx512_vbmi", "avx512_vnni", "avx512_bf16", "avx512_fp16", "amx_tile",
                             "amx_int8", "amx_bf16"})
        if (flags.find(std::string(" ") + flag + " ") != std::string::npos)
            present += (present.empty() ? "" : " ") + std::string(flag);
    return present.empty() ? "(none of sse4_2 ... amx known to /proc/cpuinfo)" : present;
}

/// Three lines: CPU model and hardware threads, SIMD flags, ggml's build.
/// Call it after a model is loaded: a portable build picks its CPU variant
/// when libwhisper loads, and the line shows the one it picked.
inline void printMachine()
{
    const std::string model = cpuInfoField("model name");
    std::printf("cpu:  %s, %u hardware threads\n", model.empty() ? "unknown" : model.c_str(),
                std::thread::hardware_concurrency());
    std::printf("simd: %s\n", simdFlags().c_str());
    std::printf("ggml: %s\n", whisper_print_system_info());
}

} // namespace corvane::bench
