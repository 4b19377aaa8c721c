// Real speech through a real model. Needs ../shared/models/ggml-tiny.en.bin
// and ../shared/audio/jfk.wav; skips with a message when either is absent.

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

/// Lower-case letters and digits only, words separated by one space.
std::string normalise(const std::string& text)
{
    std::string result;
    for (unsigned char c : text) {
        if (std::isalnum(c))
            result += static_cast<char>(std::tolower(c));
        else if (!result.empty() && result.back() != ' ')
            result += ' ';
    }
    while (!result.empty() && result.back() == ' ')
        result.pop_back();
    return result;
}

std::vector<float> readMono(const std::string& path, double& rate)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return {};
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    rate = info.samplerate;
    std::vector<float> mono(static_cast<std::size_t>(info.frames));
    for (std::size_t frame = 0; frame < mono.size(); ++frame)
        mono[frame] = interleaved[frame * static_cast<std::size_t>(info.channels)];
    return mono;
}

TEST(NodeRealModel, TranscribesJfkAt48Kilohertz)
{
    const std::string model = realTinyModel();
    const std::string speech = sharedFile("audio/jfk.wav");
    if (model.empty() || speech.empty())
        GTEST_SKIP() << "needs ../shared/models/ggml-tiny.en.bin and ../shared/audio/jfk.wav";

    const std::string converted = std::string(CORVANE_TEST_DATA_DIR) + "/jfk-48k.wav";
    const std::string command = "sox -D '" + speech + "' -r 48000 '" + converted + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << "sox is needed to convert the sample: " << command;

    double rate = 0;
    const std::vector<float> audio = readMono(converted, rate);
    ASSERT_EQ(rate, 48000.0);

    WhisperSTTNode node(CVAnyMap{{"modelPath", model}, {"useGPU", false}});
    EventRecorder events(node);
    feed(node, audio, rate, 480);
    ASSERT_TRUE(node.callAction("transcribe", {}).isOk());
    ASSERT_TRUE(events.waitFor("transcribed", 1));

    const std::string text = events.named("transcribed").at(0).data.asMap().at("text").asString();
    EXPECT_NE(normalise(text).find("ask not what your country can do for you"), std::string::npos) << text;
}

} // namespace
} // namespace corvane::test
