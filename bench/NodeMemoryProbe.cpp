// Resident memory of a process holding one node: before the node exists,
// with its model loaded, after 60 s of 48 kHz audio in 10 ms blocks and after
// one transcription of the newest 30 s, then the peak (VmHWM).
//
//   corvane_bench_memory [MODEL]   default: the weight-less tiny.en model
#include <cstdio>
#include <fstream>
#include <string>

#include "BenchSupport.h"

namespace {

/// A "Vm...:" field of /proc/self/status in MiB, or -1 where there is none.
double statusMiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            // "VmRSS:     123456 kB"
            return std::stod(line.substr(field.size() + 1)) / 1024.0;
        }
    }
    return -1.0;
}

void report(const char* moment)
{
    std::printf("  %-38s VmRSS %8.1f MiB   VmHWM %8.1f MiB\n", moment, statusMiB("VmRSS"), statusMiB("VmHWM"));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    using corvane::extensions::whisper::WhisperSTTNode;
    corvane::bench::quietLogs();

    const std::string model = argc > 1 ? argv[1] : corvane::test::weightlessTinyModel();
    constexpr double rate = 48000.0;
    // Made before the first figure, so it is not counted as the node's.
    const std::vector<float> audio = corvane::bench::speechLike(rate, 60.0);

    std::printf("Memory of one node (%s, %d threads)\n", model.c_str(),
                corvane::extensions::whisper::DecodingSettings::defaultThreadCount());
    report("before the node");
    try {
        WhisperSTTNode node(corvane::CVAnyMap{{"modelPath", model}, {"useGPU", false}});
        if (!node.modelSlot().isReady()) {
            std::fprintf(stderr, "corvane_bench_memory: could not load %s\n", model.c_str());
            return 1;
        }
        report("model loaded");

        corvane::test::EventRecorder events(node);
        corvane::test::feed(node, audio, rate, 480);
        report("after 60 s of audio");

        const auto result = node.callAction("transcribe", {});
        if (!result.isOk() || !events.waitFor("transcribed", 1, std::chrono::minutes(5))) {
            std::fprintf(stderr, "corvane_bench_memory: the transcription did not finish\n");
            return 1;
        }
        report("after one 30 s transcription");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvane_bench_memory: %s\n", error.what());
        return 1;
    }
    report("node destroyed");
    std::printf("  peak resident (VmHWM): %.1f MiB\n", statusMiB("VmHWM"));
    return 0;
}
