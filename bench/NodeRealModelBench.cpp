// The node on real speech with the real tiny.en model: processing time and
// word error rate for the first 2, 5 and 11 s of jfk.wav, with flash
// attention off and on, with voice-activity detection off and on, beside two
// references on the same samples and threads: whisper.cpp's own whisper-cli
// with its defaults (beam search of 5, audio_ctx 0, flash attention on) and
// greedy, built out of our tree as whisper.cpp ships it
// (scripts/build-whisper-reference), and whisper_full called here with its
// defaults, from the whisper.cpp built in this tree. The two references must
// agree on the encoder; if ours is slower, our build of whisper.cpp is.
//
//   corvane_bench_real_model [ROUNDS]     (default 5)
//
//   WHISPER_CLI            whisper-cli to run (default: build-whisper-reference/
//                          bin/whisper-cli of the checkout; left out if absent)
//   CORVANE_BENCH_THREADS  whisper.cpp threads for every configuration (default 2)
//
// Needs ../shared/models/ggml-tiny.en.bin, ../shared/models/silero-v6.0.0-
// ggml.bin and ../shared/audio/jfk.wav; says so and exits 0 without them.
//
// On a machine shared with other work, wall times swing widely. The rounds
// therefore interleave the configurations (each round runs every cut in every
// configuration once) and the table gives the minimum over the rounds, of
// wall time and, separately, of the process's CPU time. Node times are its
// own "processingTime"; CPU time covers every thread of the process from the
// request to the event. whisper-cli's time is its own "total time" less its
// "load time": the run, plus making its state (a few ms, which the node does
// at load). A plain program rather than Google Benchmark, which
// runs each case to the end before the next and so cannot interleave them.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include "BenchSupport.h"
#include "MachineInfo.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvane::CVAnyMap;
using corvane::extensions::whisper::WhisperContextDeleter;
using corvane::extensions::whisper::WhisperSTTNode;

constexpr int kRate = 16000;
const char* const kKnownText = "And so my fellow Americans, ask not what your country can do for you, ask what you "
                               "can do for your country.";

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> result;
    std::string word;
    for (unsigned char c : text + " ") {
        if (std::isalnum(c) || c == '\'') {
            word += static_cast<char>(std::tolower(c));
        } else if (!word.empty()) {
            result.push_back(word);
            word.clear();
        }
    }
    return result;
}

std::size_t editDistance(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

/// Word error rate against the known text as far as a cut reaches: the
/// prefix of the known words that the hypothesis matches best (a cut may end
/// inside a word, so its exact extent is not known in advance).
double wordErrorRate(const std::string& hypothesis)
{
    const std::vector<std::string> known = words(kKnownText);
    const std::vector<std::string> heard = words(hypothesis);
    double best = 1.0;
    for (std::size_t length = 1; length <= known.size(); ++length) {
        const std::vector<std::string> prefix(known.begin(), known.begin() + static_cast<std::ptrdiff_t>(length));
        best = std::min(best, static_cast<double>(editDistance(heard, prefix)) / static_cast<double>(length));
    }
    return best;
}

std::vector<float> readMono16k(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr || info.samplerate != kRate || info.channels != 1)
        throw std::runtime_error(path + " is not a 16 kHz mono sound file");
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

void writeFloatWav(const std::string& path, const float* samples, uint32_t count)
{
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    const bool written = file != nullptr && sf_writef_float(file, samples, count) == count;
    if (file != nullptr)
        sf_close(file);
    if (!written)
        throw std::runtime_error("cannot write " + path);
}

constexpr double kUnknown = std::numeric_limits<double>::infinity();

struct Measurement {
    double wallMs = kUnknown;
    double cpuMs = kUnknown;
    double encodeMs = kUnknown; // one encoder pass, where the configuration tells
    std::string text;

    void keep(double wall, double cpu, std::string transcript, double encode = kUnknown)
    {
        wallMs = std::min(wallMs, wall);
        cpuMs = std::min(cpuMs, cpu);
        encodeMs = std::min(encodeMs, encode);
        text = std::move(transcript);
    }
};

std::string milliseconds(double ms)
{
    return ms == kUnknown ? std::string("-") : std::to_string(static_cast<long long>(ms + 0.5));
}

/// One way of transcribing a cut: a node in some configuration, or a
/// reference.
class Configuration {
public:
    virtual ~Configuration() = default;
    virtual std::string name() const = 0;
    /// Wall ms, CPU ms and text of one run over the first sampleCount samples.
    virtual void run(uint32_t sampleCount, Measurement& into) = 0;
};

class NodeConfiguration : public Configuration {
public:
    NodeConfiguration(const std::string& model, const std::string& silero, bool flash, bool vad, int threads,
                      const std::vector<float>& audio)
        : flash(flash), vad(vad)
    {
        node = std::make_unique<WhisperSTTNode>(CVAnyMap{
            {"initializeModel", false}, {"flashAttention", flash}, {"vad", vad}, {"numberOfThreads", threads}});
        corvane::test::useVadModel(*node, silero);
        if (!node->callAction("loadModel", {{"modelPath", model}}).isOk())
            throw std::runtime_error("the node could not load " + model);
        if (vad && !node->modelSlot().beginRun().detectsVoiceActivity())
            throw std::runtime_error("the node could not load " + silero);
        events = std::make_unique<corvane::test::EventRecorder>(*node);
        corvane::test::feed(*node, audio, kRate, 160);
    }
    ~NodeConfiguration() override
    {
        events.reset();
        node.reset();
    }

    std::string name() const override
    {
        return std::string("node, flash ") + (flash ? "on" : "off") + (vad ? ", VAD" : "");
    }

    void run(uint32_t sampleCount, Measurement& into) override
    {
        const double cpuBefore = corvane::bench::processCpuSeconds();
        if (!node->callAction("transcribe", {{"start", 0}, {"end", static_cast<long long>(sampleCount)}}).isOk())
            throw std::runtime_error("\"transcribe\" was refused");
        if (!events->waitFor("transcribed", ++requests, std::chrono::minutes(5)))
            throw std::runtime_error("no \"transcribed\" event within 5 minutes");
        const double cpuMs = (corvane::bench::processCpuSeconds() - cpuBefore) * 1e3;
        const CVAnyMap data = events->named("transcribed").back().data.asMap();
        into.keep(static_cast<double>(data.at("processingTime").asInteger()), cpuMs, data.at("text").asString());
    }

private:
    bool flash;
    bool vad;
    std::unique_ptr<WhisperSTTNode> node;
    std::unique_ptr<corvane::test::EventRecorder> events;
    std::size_t requests = 0;
};

/// whisper.cpp as its own examples call it: default context and recognition
/// parameters (flash attention on, audio_ctx 0), on the CPU like the node here.
class ReferenceConfiguration : public Configuration {
public:
    ReferenceConfiguration(const std::string& model, int threads, const std::vector<float>& audio) : audio(audio)
    {
        whisper_context_params contextParams = whisper_context_default_params();
        contextParams.use_gpu = false;
        context.reset(whisper_init_from_file_with_params(model.c_str(), contextParams));
        if (!context)
            throw std::runtime_error("whisper.cpp could not load " + model);
        params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
        params.print_progress = false;
        params.print_timestamps = false;
        params.n_threads = threads;
    }

    std::string name() const override { return "whisper_full here, greedy"; }

    void run(uint32_t sampleCount, Measurement& into) override
    {
        whisper_reset_timings(context.get());
        const double cpuBefore = corvane::bench::processCpuSeconds();
        const Clock::time_point started = Clock::now();
        if (whisper_full(context.get(), params, audio.data(), static_cast<int>(sampleCount)) != 0)
            throw std::runtime_error("whisper_full failed");
        const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        const double cpuMs = (corvane::bench::processCpuSeconds() - cpuBefore) * 1e3;
        std::string text;
        for (int segment = 0; segment < whisper_full_n_segments(context.get()); ++segment)
            text += whisper_full_get_segment_text(context.get(), segment);
        const std::unique_ptr<whisper_timings> timings(whisper_get_timings(context.get()));
        into.keep(wallMs, cpuMs, text, timings ? timings->encode_ms : kUnknown);
    }

private:
    const std::vector<float>& audio;
    std::unique_ptr<whisper_context, WhisperContextDeleter> context;
    whisper_full_params params{};
};

/// whisper.cpp's own whisper-cli, one process per run, on the cut written to a
/// WAV file of float samples (the very samples the others get). Its figures
/// are the ones it prints; CPU time is the whole process's, loading included.
class WhisperCliConfiguration : public Configuration {
public:
    WhisperCliConfiguration(std::string cli, std::string model, int threads, bool greedy,
                            const std::vector<float>& audio, std::filesystem::path folder)
        : cli(std::move(cli)), model(std::move(model)), threads(threads), greedy(greedy), audio(audio),
          folder(std::move(folder))
    {
    }

    std::string name() const override { return greedy ? "whisper-cli, greedy (-bs 1)" : "whisper-cli, defaults"; }

    void run(uint32_t sampleCount, Measurement& into) override
    {
        const std::filesystem::path cut = folder / ("cut-" + std::to_string(sampleCount) + ".wav");
        if (!std::filesystem::exists(cut))
            writeFloatWav(cut, audio.data(), sampleCount);
        const std::filesystem::path out = folder / "out.txt";
        const std::filesystem::path log = folder / "log.txt";
        const std::string command = quoted(cli) + " -m " + quoted(model) + " -f " + quoted(cut) + " -t " +
                                    std::to_string(threads) + (greedy ? " -bs 1" : "") + " -nt > " + quoted(out) +
                                    " 2> " + quoted(log);
        const double cpuBefore = childrenCpuSeconds();
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("whisper-cli failed: " + read(log));
        const double cpuMs = (childrenCpuSeconds() - cpuBefore) * 1e3;
        const std::string printed = read(log);
        const double total = printedMs(printed, "total time =") - printedMs(printed, "load time =");
        // One line per segment, indented.
        std::string text = read(out);
        std::replace(text.begin(), text.end(), '\n', ' ');
        text.erase(0, text.find_first_not_of(' '));
        text.erase(text.find_last_not_of(' ') + 1);
        into.keep(total, cpuMs, text, perRunMs(printed, "encode time ="));
    }

private:
    static std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

    static std::string read(const std::filesystem::path& path)
    {
        std::ifstream file(path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    static double childrenCpuSeconds()
    {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
        return seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }

    /// "whisper_print_timings:    total time =   789.00 ms": the number after the key.
    static double printedMs(const std::string& printed, const std::string& key)
    {
        const std::string::size_type at = printed.find(key);
        if (at == std::string::npos)
            throw std::runtime_error("whisper-cli printed no \"" + key + "\"");
        return std::atof(printed.c_str() + at + key.size());
    }

    /// "encode time =   284.13 ms /     1 runs (   284.13 ms per run)": the
    /// time per run, within the parentheses.
    static double perRunMs(const std::string& printed, const std::string& key)
    {
        const std::string::size_type at = printed.find(key);
        const std::string::size_type open = printed.find('(', at);
        if (at == std::string::npos || open == std::string::npos)
            throw std::runtime_error("whisper-cli printed no \"" + key + "\" per run");
        return std::atof(printed.c_str() + open + 1);
    }

    std::string cli;
    std::string model;
    int threads;
    bool greedy;
    const std::vector<float>& audio;
    std::filesystem::path folder;
};

std::string whisperCliPath()
{
    if (const char* path = std::getenv("WHISPER_CLI"))
        return path;
    const std::string built = CORVANE_SOURCE_DIR "/build-whisper-reference/bin/whisper-cli";
    return std::filesystem::exists(built) ? built : std::string();
}

/// Below the table: whether the two references agree on the encoder, and the
/// node's time over whisper-cli's against the targets.
void printVerdicts(const std::vector<int>& cuts, const std::vector<std::vector<Measurement>>& results,
                   std::size_t cliAt, std::size_t inTreeAt, std::size_t firstNodeAt,
                   const std::vector<std::unique_ptr<Configuration>>& configurations)
{
    std::printf("\nencoder, one pass (ms): whisper-cli / whisper_full here");
    for (std::size_t cut = 0; cut < cuts.size(); ++cut) {
        const double cli = results[cut][cliAt].encodeMs;
        const double here = results[cut][inTreeAt].encodeMs;
        std::printf("%s %d s: %.0f / %.0f = %.2f", cut == 0 ? "" : ";", cuts[cut], cli, here, cli / here);
    }
    bool agree = true;
    for (std::size_t cut = 0; cut < cuts.size(); ++cut) {
        const double ratio = results[cut][inTreeAt].encodeMs / results[cut][cliAt].encodeMs;
        agree = agree && ratio <= 1.10 && ratio >= 1 / 1.10;
    }
    std::printf(" (%s)\n", agree ? "agree within 10 %" : "DIFFER by more than 10 %: our build of whisper.cpp is off");
    const std::vector<double> targets{0.6, 0.6, 0.8};
    for (std::size_t c = firstNodeAt; c < configurations.size(); ++c) {
        std::printf("%s / whisper-cli, defaults:", configurations[c]->name().c_str());
        for (std::size_t cut = 0; cut < cuts.size(); ++cut) {
            const double ratio = results[cut][c].wallMs / results[cut][cliAt].wallMs;
            const double target = cut < targets.size() ? targets[cut] : targets.back();
            std::printf(" %d s %.2f (%s %.1f)", cuts[cut], ratio, ratio <= target ? "<=" : "ABOVE", target);
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string model = corvane::test::realTinyModel();
    const std::string silero = corvane::test::sharedFile("models/silero-v6.0.0-ggml.bin");
    const std::string jfk = corvane::test::sharedFile("audio/jfk.wav");
    if (model.empty() || silero.empty() || jfk.empty()) {
        std::printf("corvane_bench_real_model: skipped; needs ../shared/models/ggml-tiny.en.bin, "
                    "../shared/models/silero-v6.0.0-ggml.bin and ../shared/audio/jfk.wav\n");
        return 0;
    }
    corvane::bench::quietLogs();
    const char* threadCount = std::getenv("CORVANE_BENCH_THREADS");
    const int threads = threadCount != nullptr ? std::max(1, std::atoi(threadCount)) : 2;
    const std::string cli = whisperCliPath();
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("corvane-bench-real-model-" + std::to_string(getpid()));

    try {
        const std::vector<float> audio = readMono16k(jfk);
        std::vector<std::unique_ptr<Configuration>> configurations;
        std::size_t cliAt = 0;
        if (!cli.empty()) {
            std::filesystem::create_directories(folder);
            for (const bool greedy : {false, true})
                configurations.push_back(
                    std::make_unique<WhisperCliConfiguration>(cli, model, threads, greedy, audio, folder));
        }
        const std::size_t inTreeAt = configurations.size();
        configurations.push_back(std::make_unique<ReferenceConfiguration>(model, threads, audio));
        const std::size_t firstNodeAt = configurations.size();
        for (const auto& [flash, vad] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}})
            configurations.push_back(std::make_unique<NodeConfiguration>(model, silero, flash, vad, threads, audio));

        const std::vector<int> cuts{2, 5, 11};
        std::vector<std::vector<Measurement>> results(cuts.size(), std::vector<Measurement>(configurations.size()));
        auto samplesOf = [&](int seconds) {
            const auto wanted = static_cast<std::size_t>(seconds) * kRate;
            return static_cast<uint32_t>(std::min(audio.size(), wanted));
        };

        // A first run settles each context's buffers; it is not counted.
        Measurement discarded;
        for (auto& configuration : configurations)
            configuration->run(samplesOf(2), discarded);
        for (int round = 0; round < rounds; ++round)
            for (std::size_t cut = 0; cut < cuts.size(); ++cut)
                for (std::size_t c = 0; c < configurations.size(); ++c)
                    configurations[c]->run(samplesOf(cuts[cut]), results[cut][c]);

        corvane::bench::printMachine();
        std::printf("jfk.wav, tiny.en, %d whisper.cpp threads; minimum of %d interleaved rounds\n", threads, rounds);
        if (cli.empty())
            std::printf("no whisper-cli (scripts/build-whisper-reference builds it, or set WHISPER_CLI): "
                        "x reference is over whisper_full here\n");
        else
            std::printf("whisper-cli: %s\n", cli.c_str());
        std::printf("| cut | configuration | wall ms | CPU ms | encode ms | x reference (wall) | WER | text |\n");
        std::printf("|---|---|---|---|---|---|---|---|\n");
        for (std::size_t cut = 0; cut < cuts.size(); ++cut) {
            const double referenceWall = results[cut][cliAt].wallMs;
            for (std::size_t c = 0; c < configurations.size(); ++c) {
                const Measurement& m = results[cut][c];
                std::printf("| %d s | %s | %.0f | %.0f | %s | %.2f | %.2f | %s |\n", cuts[cut],
                            configurations[c]->name().c_str(), m.wallMs, m.cpuMs, milliseconds(m.encodeMs).c_str(),
                            m.wallMs / referenceWall, wordErrorRate(m.text), m.text.c_str());
            }
        }
        if (!cli.empty())
            printVerdicts(cuts, results, cliAt, inTreeAt, firstNodeAt, configurations);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvane_bench_real_model: %s\n", error.what());
        std::filesystem::remove_all(folder);
        return 1;
    }
    std::filesystem::remove_all(folder);
    return 0;
}
