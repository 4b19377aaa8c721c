// Voice-activity detection on the real tiny.en and Silero models: speech comes
// through whole; silence and noise never reach whisper_full. Skips without
// ../shared/models/{ggml-tiny.en.bin,silero-v6.0.0-ggml.bin} and ../shared/audio/jfk.wav.

#include <cctype>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "LogCapture.h"
#include "NodeTestSupport.h"

namespace corvane::test {
namespace {

// Each joined stretch but the last carries the overlap the parameters name.
TEST(VoiceActivityRealModel, TheOverlapComesFromTheParameters)
{
    const std::string silero = sharedFile("models/silero-v6.0.0-ggml.bin"), jfk = sharedFile("audio/jfk.wav");
    if (silero.empty() || jfk.empty())
        GTEST_SKIP() << "needs ../shared/models/silero-v6.0.0-ggml.bin and ../shared/audio/jfk.wav";
    const std::vector<float> speech = readMono16k(jfk);
    whisper_vad_params params = whisper_vad_default_params();
    std::vector<std::size_t> lengths;
    std::size_t spans = 0;
    for (const float overlap : {0.1f, 0.3f}) {
        params.samples_overlap = overlap;
        auto detector = extensions::whisper::VoiceActivityDetector::load(silero, params, 480000);
        ASSERT_NE(detector, nullptr);
        ASSERT_EQ(detector->extractSpeech(speech.data(), static_cast<uint32_t>(speech.size()), 17000),
                  extensions::whisper::VoiceActivityDetector::Outcome::Speech);
        lengths.push_back(detector->speech().size());
        spans = detector->spanCount();
    }
    ASSERT_GT(spans, 1u) << "jfk.wav has pauses";
    EXPECT_EQ(lengths[1] - lengths[0], (spans - 1) * 3200);
}

TEST(NodeVoiceActivityRealModel, SpeechIsTranscribedAndSilenceOrNoiseNeverReachTheModel)
{
    const std::string model = realTinyModel(), silero = sharedFile("models/silero-v6.0.0-ggml.bin");
    const std::string jfk = sharedFile("audio/jfk.wav");
    if (model.empty() || silero.empty() || jfk.empty())
        GTEST_SKIP() << "needs ../shared/models/ggml-tiny.en.bin, ../shared/models/silero-v6.0.0-ggml.bin and "
                        "../shared/audio/jfk.wav";

    const std::vector<float> speech = readMono16k(jfk);
    std::vector<float> noise(160000);
    std::mt19937 random(8);
    std::normal_distribution<float> gaussian(0.0f, 0.01f); // -40 dBFS RMS
    for (float& sample : noise)
        sample = gaussian(random);

    const std::string noSignal = "[WhisperSTTNode] No signal in the window (below -60 dBFS); skipping recognition.";
    const std::vector<std::tuple<std::vector<float>, bool, std::string, std::string>> cases{
        {speech, true, "", " and so my fellow americans ask not what your country can do for you ask what you can "
                           "do for your country"},
        {std::vector<float>(160000, 0.0f), true, noSignal, ""},
        {std::vector<float>(160000, 0.0f), false, noSignal, ""},
        {noise, true, "[WhisperSTTNode] No speech in the window; skipping recognition.", ""},
    };
    for (const auto& [audio, vad, skipLine, expected] : cases) {
        SCOPED_TRACE(expected + skipLine + (vad ? " (VAD on)" : " (VAD off)"));
        LogCapture log;
        WhisperSTTNode node({{"initializeModel", false}, {"vad", vad}, {"flashAttention", true}});
        useVadModel(node, silero);
        ASSERT_TRUE(node.callAction("loadModel", {{"modelPath", model}}).isOk());
        ASSERT_EQ(node.modelSlot().beginRun().detectsVoiceActivity(), vad);
        std::string text;
        for (unsigned char c : transcribeAll(node, audio))
            if (std::isalnum(c) || c == ' ')
                text += static_cast<char>(std::tolower(c));
        EXPECT_EQ(text, expected);
        EXPECT_EQ(log.count("[LATENCY][WHISPER_END] timestamp="), 1u);
        EXPECT_FALSE(node.modelSlot().decodingParameters().vad) << "whisper.cpp must not run a detection of its own";
        EXPECT_EQ(log.count("[WhisperSTTNode] Voice activity: "), vad && skipLine.empty() ? 1u : 0u);
        if (!skipLine.empty()) {
            EXPECT_EQ(log.count(skipLine), 1u);
            EXPECT_EQ(log.count("[WhisperSTTNode] Final processing buffer size: "), 0u) << "whisper_full ran";
        }
    }
}

} // namespace
} // namespace corvane::test
