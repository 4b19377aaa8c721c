// corvane-whisper import-model on small CTranslate2 folders the tests write.
#include "ProgramRun.h"
#include "ModelImportTestSupport.h"
#include "ModelImportError.h"
#include "WhisperControlTokens.h"

#include <whisper.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace corvane::test;
namespace fs = std::filesystem;

struct ImportCase { uint8_t sourceType; const char* weightType; int fileType; float tolerance; int parts = 1; };
void PrintTo(const ImportCase& c, std::ostream* out) { *out << c.weightType; }
class ModelImport : public ::testing::TestWithParam<ImportCase> {};

TEST_P(ModelImport, LoadsInWhisperCppWithTheSourcesShapeAndValues)
{
    SyntheticCTranslate2Model source;
    source.matrixType = GetParam().sourceType;
    const fs::path folder = temporaryFile(std::string("ct2-") + GetParam().weightType), output = folder / "out.bin";
    source.write(folder, GetParam().parts);
    const ProgramRun run = runCli({"import-model", folder.string(), output.string(), "--type", GetParam().weightType});
    ASSERT_TRUE(run.succeeded()) << run.describe();

    whisper_context* context = whisper_init_from_file_with_params_no_state(output.c_str(), whisper_context_default_params());
    ASSERT_NE(context, nullptr);
    EXPECT_EQ((std::vector<int>{whisper_model_n_vocab(context), whisper_model_n_audio_ctx(context), whisper_model_n_audio_state(context),
                                whisper_model_n_audio_head(context), whisper_model_n_audio_layer(context), whisper_model_n_text_ctx(context),
                                whisper_model_n_text_state(context), whisper_model_n_text_head(context), whisper_model_n_text_layer(context),
                                whisper_model_n_mels(context), whisper_model_ftype(context)}),
              (std::vector<int>{source.vocabulary, source.audioContext, source.state, source.heads, source.layers, source.textContext,
                                source.state, source.heads, source.layers, source.mels, GetParam().fileType % 1000}));
    whisper_free(context);

    const GgmlModelFile file(output);
    EXPECT_EQ(file.header.back(), GetParam().fileType);
    // Through <|endoftext|>, decoded from the byte-level spelling; a lone byte 0xC3 is no UTF-8 character.
    ASSERT_EQ(file.tokens.size(), 98u);
    EXPECT_EQ(std::vector<std::string>(file.tokens.begin() + 94, file.tokens.end()),
              (std::vector<std::string>{" ", "\u00E9", "\uFFFD", "<|endoftext|>"}));
    EXPECT_EQ(file.tensors.at("encoder.conv1.bias").dimensions, (std::vector<int32_t>{1, source.state}));
    // Slices of fused projections: value is the last third of self-attention's, the second half of cross-attention's.
    const auto s = static_cast<size_t>(source.state);
    for (const auto& [name, offset] : std::vector<std::pair<std::string, size_t>>{
             {"encoder.blocks.1.attn.value.bias", 2 * s}, {"decoder.blocks.1.cross_attn.value.weight", s * s}, {"decoder.blocks.0.attn.key.weight", s * s}}) {
        const auto& values = file.tensors.at(name).values;
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_NEAR(values[i], SyntheticCTranslate2Model::value(offset + i), GetParam().tolerance) << name << " [" << i << "]";
    }
}

INSTANTIATE_TEST_SUITE_P(SourceAndWeightTypes, ModelImport,
                         ::testing::Values(ImportCase{0, "f32", 0, 0}, ImportCase{4, "f16", 1, 0, 3},
                                           ImportCase{1, "q8_0", 2007, 0.004f}, ImportCase{4, "q4_0", 2002, 0.07f}),
                         [](const auto& info) { return std::string(info.param.weightType); });

TEST(ModelImportErrors, EachBadInputGivesOneLineAndNoOutputFile)
{
    struct BadInput { const char* removed; uint32_t version; uint8_t matrixType; const char* shortVariable; const char* message; int parts = 1; };
    for (const BadInput& bad : std::vector<BadInput>{
             {"model.bin", 6, 0, "", "missing file"},
             {"config.json", 6, 0, "", "missing file"},
             {"vocabulary.txt", 6, 0, "", "vocabulary.json"},
             {"", 3, 0, "", "format version 3"},
             {"", 6, 9, "", "unsupported element type 9"},
             {"", 6, 3, "", "without a scale"},                                // int32 weights
             {"", 6, 0, "decoder/layer_1/ffn/linear_1/bias", "shapes disagree"}, // found after most tensors are written
             {"", 6, 0, "encoder/conv1/weight", "shapes disagree"},
             {"model.bin.part2", 6, 0, "", "missing file", 3},                  // a gap in the parts' numbers
             {"model.bin.part3", 6, 0, "", "is a later part missing?", 3}}) {
        SyntheticCTranslate2Model source;
        source.version = bad.version, source.matrixType = bad.matrixType, source.shortVariable = bad.shortVariable;
        const fs::path folder = temporaryFile("bad"), output = folder / "out" / "model.bin";
        fs::remove_all(folder);
        source.write(folder, bad.parts);
        if (*bad.removed)
            fs::remove(folder / bad.removed);
        const ProgramRun run = runCli({"import-model", folder.string(), output.string()});
        EXPECT_TRUE(run.exited && run.exitCode == 1 && std::count(run.err.begin(), run.err.end(), '\n') == 1) << run.describe();
        EXPECT_NE(run.err.find(bad.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(output) || fs::exists(output.string() + ".partial")) << bad.message;
    }
}

// whisper.cpp places special tokens by fixed ids: listed elsewhere, they would import "fine" and then mislead it.
TEST(WhisperControlTokens, MustSitWhereWhisperCppLooksForThem)
{
    using namespace corvane::modelimport;
    std::vector<std::string> multilingual(50257, "a");
    for (const std::string& token : whisperControlTokens(51865))
        multilingual.push_back(token);
    EXPECT_NO_THROW(checkWhisperControlTokens(multilingual, 50257, 51865));
    auto swapped = multilingual;
    std::swap(swapped[50261], swapped[50262]);
    struct Bad { const std::vector<std::string>& spellings; int32_t endOfText, rows; const char* message; };
    for (const Bad& bad : std::vector<Bad>{{swapped, 50257, 51865, "token 50261 is \"<|es|>\", where whisper.cpp expects \"<|de|>\""},
                                           {multilingual, 50256, 51865, "to have it at 50257"},
                                           {multilingual, 50257, 51864, "the token embedding has 51864 rows"},
                                           {multilingual, 50257, 51867, "more language tokens than the 100 languages"}})
        EXPECT_THAT([&] { checkWhisperControlTokens(bad.spellings, bad.endOfText, bad.rows); },
                    ::testing::ThrowsMessage<ModelImportError>(::testing::HasSubstr(bad.message)));
}

} // namespace
