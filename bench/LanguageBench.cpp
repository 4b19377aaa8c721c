// Whisper's languages with whisper.cpp called directly: for each model and
// each speech sample, the time of one whisper_full run with the language
// given, with "auto" (detection first) and, for other languages, with
// translation into English; the language detected with its probability and
// the time detection alone takes; the word error rate of each text.
//
//   corvane_bench_languages MANIFEST MODEL...
//
// MANIFEST has one sample a line, tab-separated: a name, a 16 kHz mono WAV,
// its language (an ISO 639-1 code, or "mixed" for a file whose utterances
// change language) and what is said. bench/measure-languages writes one
// (espeak-ng sentences, the jfk sample and real English recordings) and runs
// this. English-only models run the English samples only.
//   CORVANE_BENCH_THREADS  whisper.cpp threads (default 2)
//   CORVANE_BENCH_ROUNDS   rounds (default 3)
// Each round runs every model, sample and mode once, so the configurations
// interleave on a machine shared with other work; times are the minimum over
// the rounds. A plain program for that reason, as corvane_bench_real_model.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sndfile.h>
#include <whisper.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    std::string name, path, language, text;
    std::vector<float> audio;
    double seconds() const { return static_cast<double>(audio.size()) / WHISPER_SAMPLE_RATE; }
};

struct ContextDeleter {
    void operator()(whisper_context* context) const { whisper_free(context); }
};

struct Model {
    std::string name;
    std::unique_ptr<whisper_context, ContextDeleter> context;
    bool multilingual() const { return whisper_is_multilingual(context.get()) != 0; }
};

/// Minimum time of one configuration, and what its last run gave.
struct Outcome {
    double seconds = std::numeric_limits<double>::infinity();
    std::string text, language;
    float probability = 0;
    void keep(double elapsed) { seconds = std::min(seconds, elapsed); }
};

int threads = 2;

/// Lower-case words of any script: letters and digits, apostrophes inside.
std::vector<std::wstring> words(const std::string& text)
{
    std::vector<std::wstring> result;
    std::wstring word;
    std::mbstate_t state{};
    const char* next = text.c_str();
    for (size_t left = text.size() + 1;;) {
        wchar_t c = 0;
        const size_t used = std::mbrtowc(&c, next, left, &state);
        if (used == 0 || used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2))
            c = L' ', state = {};
        if (std::iswalnum(static_cast<wint_t>(c)) || (c == L'\'' && !word.empty())) {
            word += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        } else if (!word.empty()) {
            result.push_back(word);
            word.clear();
        }
        if (used == 0)
            break;
        const size_t step = used > left ? 1 : std::max<size_t>(used, 1);
        next += step, left -= step;
    }
    return result;
}

double wordErrorRate(const std::string& reference, const std::string& hypothesis)
{
    const auto a = words(reference), b = words(hypothesis);
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return a.empty() ? 0.0 : static_cast<double>(row[b.size()]) / static_cast<double>(a.size());
}

std::vector<float> readSpeech(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> samples;
    if (file && info.samplerate == WHISPER_SAMPLE_RATE && info.channels == 1) {
        samples.resize(static_cast<size_t>(info.frames));
        sf_readf_float(file, samples.data(), info.frames);
    }
    if (file)
        sf_close(file);
    return samples;
}

std::vector<Sample> readManifest(const std::string& path)
{
    std::vector<Sample> samples;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Sample sample;
        if (!std::getline(fields, sample.name, '\t') || !std::getline(fields, sample.path, '\t') ||
            !std::getline(fields, sample.language, '\t') || !std::getline(fields, sample.text))
            continue;
        sample.audio = readSpeech(sample.path);
        if (sample.audio.empty())
            std::fprintf(stderr, "corvane_bench_languages: %s is no 16 kHz mono sound file; left out\n",
                         sample.path.c_str());
        else
            samples.push_back(std::move(sample));
    }
    return samples;
}

/// One whisper_full run; `language` "auto" detects first.
void transcribe(Model& model, const Sample& sample, const char* language, bool translate, Outcome& outcome)
{
    auto params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = threads;
    params.language = language;
    params.translate = translate;
    params.print_progress = params.print_realtime = params.print_timestamps = false;
    const auto start = Clock::now();
    if (whisper_full(model.context.get(), params, sample.audio.data(), static_cast<int>(sample.audio.size())) != 0)
        return;
    outcome.keep(std::chrono::duration<double>(Clock::now() - start).count());
    outcome.text.clear();
    for (int i = 0; i < whisper_full_n_segments(model.context.get()); ++i)
        outcome.text += whisper_full_get_segment_text(model.context.get(), i);
    outcome.language = whisper_lang_str(whisper_full_lang_id(model.context.get()));
}

/// Detection alone, as "auto" runs it before transcribing: the spectrogram,
/// one encoder pass over the first 30 s, one decoder step.
void detect(Model& model, const Sample& sample, Outcome& outcome)
{
    std::vector<float> probabilities(static_cast<size_t>(whisper_lang_max_id() + 1));
    const auto start = Clock::now();
    whisper_pcm_to_mel(model.context.get(), sample.audio.data(), static_cast<int>(sample.audio.size()), threads);
    const int id = whisper_lang_auto_detect(model.context.get(), 0, threads, probabilities.data());
    outcome.keep(std::chrono::duration<double>(Clock::now() - start).count());
    if (id >= 0)
        outcome.language = whisper_lang_str(id), outcome.probability = probabilities[static_cast<size_t>(id)];
}

std::string cpuName()
{
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("model name"))
            return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: corvane_bench_languages MANIFEST MODEL...\n");
        return 2;
    }
    std::setlocale(LC_ALL, "C.UTF-8");
    whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr);
    if (const char* count = std::getenv("CORVANE_BENCH_THREADS"))
        threads = std::max(1, std::atoi(count));
    const int rounds = std::getenv("CORVANE_BENCH_ROUNDS") ? std::max(1, std::atoi(std::getenv("CORVANE_BENCH_ROUNDS"))) : 3;

    const std::vector<Sample> samples = readManifest(argv[1]);
    std::vector<Model> models;
    for (int i = 2; i < argc; ++i) {
        auto params = whisper_context_default_params();
        params.use_gpu = false;
        params.flash_attn = true;
        Model model{std::filesystem::path(argv[i]).filename().string(),
                    std::unique_ptr<whisper_context, ContextDeleter>(
                        whisper_init_from_file_with_params(argv[i], params))};
        if (!model.context)
            std::fprintf(stderr, "corvane_bench_languages: cannot load %s; left out\n", argv[i]);
        else
            models.push_back(std::move(model));
    }
    if (samples.empty() || models.empty())
        return 1;

    // [model][sample] -> outcome of each mode.
    enum Mode { Given, Auto, Translate, Detect, Modes };
    std::vector<std::vector<std::array<Outcome, Modes>>> outcomes(models.size(),
                                                                  std::vector<std::array<Outcome, Modes>>(samples.size()));
    for (int round = 0; round < rounds; ++round) {
        for (size_t m = 0; m < models.size(); ++m) {
            for (size_t s = 0; s < samples.size(); ++s) {
                const Sample& sample = samples[s];
                auto& outcome = outcomes[m][s];
                const bool english = sample.language == "en";
                if (!models[m].multilingual()) {
                    if (english)
                        transcribe(models[m], sample, "en", false, outcome[Given]);
                    continue;
                }
                if (sample.language != "mixed")
                    transcribe(models[m], sample, sample.language.c_str(), false, outcome[Given]);
                transcribe(models[m], sample, "auto", false, outcome[Auto]);
                detect(models[m], sample, outcome[Detect]);
                if (!english)
                    transcribe(models[m], sample, "auto", true, outcome[Translate]);
            }
        }
    }

    std::printf("cpu: %s; whisper.cpp: %s\n", cpuName().c_str(), whisper_print_system_info());
    std::printf("%d thread(s), flash attention on, greedy decoding, minimum of %d interleaved rounds\n\n", threads, rounds);
    const auto milliseconds = [](double seconds) { return std::isinf(seconds) ? -1.0 : seconds * 1000.0; };
    for (size_t m = 0; m < models.size(); ++m) {
        std::printf("== %s (%s)\n", models[m].name.c_str(), models[m].multilingual() ? "multilingual" : "English-only");
        std::printf("%-14s %5s %6s | %8s %6s | %8s %6s %-5s | %8s %-4s %5s | %9s\n", "sample", "lang", "audio",
                    "given ms", "WER%", "auto ms", "WER%", "found", "detect", "lang", "p", "transl ms");
        double audio = 0, given = 0;
        for (size_t s = 0; s < samples.size(); ++s) {
            const Sample& sample = samples[s];
            const auto& o = outcomes[m][s];
            if (std::isinf(o[Given].seconds) && std::isinf(o[Auto].seconds))
                continue;
            if (!std::isinf(o[Given].seconds))
                audio += sample.seconds(), given += o[Given].seconds;
            std::printf("%-14s %5s %5.1fs | %8.0f %6.1f", sample.name.c_str(), sample.language.c_str(), sample.seconds(),
                        milliseconds(o[Given].seconds), 100 * wordErrorRate(sample.text, o[Given].text));
            if (models[m].multilingual())
                std::printf(" | %8.0f %6.1f %-5s | %8.0f %-4s %5.2f | %9.0f", milliseconds(o[Auto].seconds),
                            100 * wordErrorRate(sample.text, o[Auto].text), o[Auto].language.c_str(),
                            milliseconds(o[Detect].seconds), o[Detect].language.c_str(), o[Detect].probability,
                            milliseconds(o[Translate].seconds));
            std::printf("\n");
        }
        if (audio > 0)
            std::printf("language given: %.1f s of audio in %.0f ms, real-time factor %.3f\n", audio, given * 1000,
                        given / audio);
        for (size_t s = 0; s < samples.size(); ++s) {
            const auto& o = outcomes[m][s];
            for (const auto& [label, mode] : {std::pair{"given", Given}, {"auto", Auto}, {"translated", Translate}})
                if (!o[mode].text.empty())
                    std::printf("  %-14s %-10s%s\n", samples[s].name.c_str(), label, o[mode].text.c_str());
        }
        std::printf("\n");
    }
    return 0;
}
