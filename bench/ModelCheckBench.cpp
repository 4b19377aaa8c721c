// What the model file check adds to a model load: whisper.cpp's own load
// (whisper_init_from_file_with_params, as the node calls it) with and without
// checkWhisperModelFile() before it, and the check alone. The three are
// interleaved round by round, so that other work on the machine hits them
// alike; the minimum and the median of each are printed, as wall time and as
// the calling thread's CPU time (both run on it alone). On a busy machine the
// CPU time is the steadier figure: a short task that follows a long one is
// often made to wait its turn. The file is in the page cache after the first
// round, as for a node that reloads its model.
//
//   corvane_bench_model_check [MODEL [ROUNDS]]   default: ../shared/models/ggml-tiny.en.bin, 15
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <whisper.h>

#include "WhisperModelCheck.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string cpuModel()
{
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

double threadCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

struct Figures {
    std::vector<double> wall, cpu;

    void time(const auto& work)
    {
        const auto start = Clock::now();
        const double cpuStart = threadCpuMilliseconds();
        work();
        cpu.push_back(threadCpuMilliseconds() - cpuStart);
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        // glibc merges the chunks whisper_free() released at the next large
        // allocation, which would charge whatever is timed next; do it here,
        // untimed.
        malloc_trim(0);
    }
};

double minimum(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const std::string model = argc > 1 ? argv[1] : CORVANE_SHARED_DIR "/models/ggml-tiny.en.bin";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
    if (!std::filesystem::exists(model)) {
        std::printf("corvane_bench_model_check: skipped, no model at %s\n", model.c_str());
        return 0;
    }
    whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr);
    auto parameters = whisper_context_default_params();
    parameters.use_gpu = false;

    bool accepted = true;
    const auto check = [&] { accepted = corvane::modelfile::checkWhisperModelFile(model).accepted() && accepted; };
    const auto load = [&] {
        whisper_context* context = whisper_init_from_file_with_params(model.c_str(), parameters);
        if (!context) {
            std::fprintf(stderr, "corvane_bench_model_check: whisper.cpp could not load %s\n", model.c_str());
            std::exit(1);
        }
        whisper_free(context);
    };
    load(); // into the page cache

    Figures checkOnly, loadOnly, checkedLoad;
    for (int round = 0; round < rounds; ++round) {
        checkOnly.time(check);
        loadOnly.time(load);
        checkedLoad.time([&] { check(), load(); });
    }
    if (!accepted) {
        std::fprintf(stderr, "corvane_bench_model_check: the check refused %s\n", model.c_str());
        return 1;
    }

    std::printf("Model check against a model load: %s (%.1f MB), %s, %u threads, %d rounds, ms\n", model.c_str(),
                static_cast<double>(std::filesystem::file_size(model)) / 1e6, cpuModel().c_str(),
                std::max(1u, std::thread::hardware_concurrency()), rounds);
    std::printf("  %-20s %12s %12s %12s %12s\n", "", "wall min", "wall median", "CPU min", "CPU median");
    for (const auto& [name, figures] : {std::pair{"whisper.cpp load", &loadOnly}, std::pair{"check, then load", &checkedLoad},
                                        std::pair{"check alone", &checkOnly}})
        std::printf("  %-20s %12.3f %12.3f %12.3f %12.3f\n", name, minimum(figures->wall), median(figures->wall),
                    minimum(figures->cpu), median(figures->cpu));
    std::printf("  the check adds %.2f %% to the load's CPU time (minima; %.2f %% by medians), %.2f %% to its wall time (minima)\n",
                100.0 * minimum(checkOnly.cpu) / minimum(loadOnly.cpu), 100.0 * median(checkOnly.cpu) / median(loadOnly.cpu),
                100.0 * minimum(checkOnly.wall) / minimum(loadOnly.wall));
    return 0;
}
