// The weight-less models the build writes for tests: whisper.cpp must load them
// as the model size they claim, run a full transcription on them, and turn
// their tokens back into text.
#include "TestModelShape.h"
#include "TestModelWriter.h"
#include "TestModels.h"

#include <whisper.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using corvane::testmodel::findTestModelShape;

struct ContextDeleter {
    void operator()(whisper_context* context) const { whisper_free(context); }
};
using Context = std::unique_ptr<whisper_context, ContextDeleter>;

std::string builtModelPath(const std::string& name)
{
    return std::string(CORVANE_TEST_DATA_DIR) + "/for-tests-ggml-" + name + ".bin";
}

Context loadOnCpu(const std::string& path)
{
    auto params = whisper_context_default_params();
    params.use_gpu = false;
    return Context(whisper_init_from_file_with_params(path.c_str(), params));
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string writtenModel(const std::string& name)
{
    std::ostringstream out;
    corvane::testmodel::writeTestModel(*findTestModelShape(name), out);
    return out.str();
}

class BuiltTestModel : public ::testing::TestWithParam<std::string> {};

TEST_P(BuiltTestModel, LoadsAsItsSizeAndTranscribesSilence)
{
    // A stale or nondeterministic file would make test runs disagree.
    EXPECT_TRUE(readFile(builtModelPath(GetParam())) == writtenModel(GetParam()));

    const auto shape = findTestModelShape(GetParam());
    ASSERT_TRUE(shape);
    const auto context = loadOnCpu(builtModelPath(GetParam()));
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(whisper_model_n_audio_layer(context.get()), shape->audioLayers);
    EXPECT_EQ(whisper_model_n_audio_state(context.get()), shape->audioState);
    EXPECT_EQ(whisper_model_n_text_layer(context.get()), shape->textLayers);
    EXPECT_EQ(whisper_n_vocab(context.get()), shape->vocabularySize);
    EXPECT_FALSE(whisper_is_multilingual(context.get()));

    // A shortened audio context and a few tokens keep the run cheap while
    // still going through the encoder and the decoder.
    auto params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = 1;
    params.audio_ctx = 1000;
    params.max_tokens = 4;
    params.single_segment = true;
    params.no_context = true;
    params.print_progress = false;
    const std::vector<float> silence(2 * WHISPER_SAMPLE_RATE, 0.0f);
    EXPECT_EQ(whisper_full(context.get(), params, silence.data(), static_cast<int>(silence.size())), 0);
}

INSTANTIATE_TEST_SUITE_P(TestModels, BuiltTestModel, ::testing::Values("tiny.en", "base.en"),
                         [](const auto& info) { return info.param == "tiny.en" ? "TinyEn" : "BaseEn"; });

TEST(TestModelVocabulary, RoundTripsTextInValidUtf8)
{
    const auto context = loadOnCpu(corvane::test::weightlessTinyModel());
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(whisper_token_eot(context.get()), 50256);
    EXPECT_STREQ(whisper_token_to_str(context.get(), whisper_token_eot(context.get())), "<|endoftext|>");
    EXPECT_STREQ(whisper_token_to_str(context.get(), 256), " ba");

    const std::string text = "Hello, world! 42 sabeku";
    std::vector<whisper_token> tokens(64);
    const int count = whisper_tokenize(context.get(), text.c_str(), tokens.data(), static_cast<int>(tokens.size()));
    ASSERT_GT(count, 0);
    std::string decoded;
    for (int i = 0; i < count; ++i)
        decoded += whisper_token_to_str(context.get(), tokens[static_cast<size_t>(i)]);
    EXPECT_EQ(decoded, text);

    // Each token on its own must be valid UTF-8, since whisper.cpp may emit any
    // of them alone as a segment's text.
    for (whisper_token id = 0; id <= whisper_token_eot(context.get()); ++id) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(whisper_token_to_str(context.get(), id));
        for (size_t i = 0; bytes[i] != 0;) {
            const int extra = bytes[i] < 0x80 ? 0 : (bytes[i] & 0xE0) == 0xC0 ? 1 : (bytes[i] & 0xF0) == 0xE0 ? 2 : -1;
            ASSERT_GE(extra, 0) << "token " << id;
            for (int k = 1; k <= extra; ++k)
                ASSERT_EQ(bytes[i + static_cast<size_t>(k)] & 0xC0, 0x80) << "token " << id;
            i += static_cast<size_t>(extra) + 1;
        }
    }
}

TEST(TestModelHeader, MatchesWhisperCppsOwnTestModel)
{
    // whisper.cpp's test models carry the header and the mel filter bank of the
    // real tiny.en; ours must agree so audio reaches the encoder as it would
    // with a real model.
    const std::string reference = corvane::test::sharedFile("models/for-tests-ggml-tiny.en.bin");
    if (reference.empty())
        GTEST_SKIP() << "no models/for-tests-ggml-tiny.en.bin in " << CORVANE_SHARED_DIR;

    const std::string ours = writtenModel("tiny.en");
    const std::string theirs = readFile(reference);
    constexpr size_t headerBytes = 4 + 11 * 4 + 2 * 4;
    constexpr size_t filterCount = 80 * 201;
    ASSERT_GE(ours.size(), headerBytes + filterCount * 4);
    ASSERT_GE(theirs.size(), headerBytes + filterCount * 4);
    EXPECT_EQ(ours.substr(0, headerBytes), theirs.substr(0, headerBytes));
    for (size_t i = 0; i < filterCount; ++i) {
        float a = 0, b = 0;
        std::memcpy(&a, ours.data() + headerBytes + i * 4, 4);
        std::memcpy(&b, theirs.data() + headerBytes + i * 4, 4);
        ASSERT_NEAR(a, b, 1e-7f) << "filter weight " << i;
    }
}

} // namespace
