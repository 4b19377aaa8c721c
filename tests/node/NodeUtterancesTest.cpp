// "autoTranscribe": the node finds utterances in what it hears and transcribes
// each once, in order, beside the requests of its actions. The weight-less
// model says no words, so the runs are read from the node's debug lines.

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "NodeTestSupport.h"
#include "PrefixSteering.h"
#include "TestModels.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;
using Seconds = std::pair<double, double>;

const std::string kUtteranceLine = "[WhisperSTTNode] Transcribing the utterance [";

/// The utterances the node has started to transcribe, in seconds.
std::vector<Seconds> utterancesRun(const LogCapture& log)
{
    std::vector<Seconds> runs;
    for (const std::string& line : log.texts(kUtteranceLine)) {
        std::smatch match;
        if (std::regex_search(line, match, std::regex(R"(\[(\d+), (\d+)\))")))
            runs.emplace_back(std::stod(match[1]) / 16000, std::stod(match[2]) / 16000);
    }
    return runs;
}

CVAnyMap progressOf(WhisperSTTNode& node)
{
    return node.callAction("getProgress", {}).getValue().asMap();
}

/// Waits until the node has looked at everything it received and has no
/// utterance left to deliver.
bool settled(WhisperSTTNode& node)
{
    for (const auto until = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < until;) {
        const CVAnyMap progress = progressOf(node);
        if (progress.at("pendingUtterances").asInteger() == 0 &&
            progress.at("examinedSamples").asInteger() == progress.at("receivedSamples").asInteger())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

void expectWindows(const std::vector<Seconds>& runs, const std::vector<Seconds>& expected)
{
    ASSERT_EQ(runs.size(), expected.size()) << ::testing::PrintToString(runs);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_NEAR(runs[i].first, expected[i].first, 0.03) << "#" << i;
        EXPECT_NEAR(runs[i].second, expected[i].second, 0.03) << "#" << i;
    }
}

// One utterance at a time, at 48 kHz and then at 16 kHz: each is transcribed
// once, from 300 ms before its speech to the middle of the pause after it.
// A "transcribe" request in the middle is served with its own window.
TEST(NodeUtterances, EachUtteranceOnceAndInOrderAcrossARateChangeBesideRequests)
{
    LogCapture log;
    WhisperSTTNode node(testModelConfig({{"autoTranscribe", true}}));
    EventRecorder events(node);
    feed(node, render({{1, kNone}, {1.2, -20}, {0.8, kNone}}, -70, 48000), 48000, 480);
    ASSERT_TRUE(settled(node));
    ASSERT_TRUE(node.callAction("transcribe", {{"start", 0}, {"end", 16000}}).isOk());
    feed(node, render({{1.2, -20}, {0.8, kNone}}, -70, 48000), 48000, 480);
    ASSERT_TRUE(settled(node));
    feed(node, render({{1.2, -20}, {1, kNone}}, -70, 16000), 16000, 160);
    ASSERT_TRUE(settled(node));

    expectWindows(utterancesRun(log), {{0.7, 2.35}, {2.7, 4.35}, {4.7, 6.35}});
    const auto transcribed = events.named("transcribed");
    ASSERT_EQ(transcribed.size(), 1u) << "the request's; utterances without words are not delivered";
    EXPECT_EQ(transcribed[0].data.asMap().at("start").asInteger(), 0);
    EXPECT_EQ(transcribed[0].data.asMap().at("end").asInteger(), 16000);
}

// While the worker is busy with a long utterance, two short ones end: they
// wait, and go together in one run. Nothing is lost, nothing is run twice.
TEST(NodeUtterances, UtterancesThatEndWhileTheWorkerIsBusyWaitAndGoTogether)
{
    LogCapture log;
    WhisperSTTNode node(testModelConfig({{"autoTranscribe", true}}));
    feed(node, render({{1, kNone}, {8, -20}, {0.8, kNone}}, -70, 16000), 16000, 160);
    ASSERT_TRUE(log.waitForCount(kUtteranceLine, 1));
    feed(node, render({{1.2, -20}, {0.8, kNone}, {1.2, -20}, {1, kNone}}, -70, 16000), 16000, 160);
    ASSERT_TRUE(settled(node));
    expectWindows(utterancesRun(log), {{0.7, 9.15}, {9.5, 13.15}});
}

// A reset drops the utterance under way; "endUtterance" ends the next one at
// once instead of waiting for a pause.
TEST(NodeUtterances, AResetDropsTheUtteranceUnderWayAndEndUtteranceEndsOne)
{
    LogCapture log;
    WhisperSTTNode node(testModelConfig({{"autoTranscribe", true}}));
    feed(node, render({{1, kNone}, {1.5, -20}}, -70, 16000), 16000, 160);
    ASSERT_TRUE(settled(node));
    ASSERT_TRUE(node.callAction("resetTranscribeWindow", {}).isOk());
    feed(node, render({{1, kNone}, {1.2, -20}}, -70, 16000), 16000, 160);
    ASSERT_TRUE(settled(node));
    EXPECT_EQ(progressOf(node).at("neededFrom").asInteger(), 51200) << "the open utterance's start";
    ASSERT_TRUE(node.callAction("endUtterance", {}).isOk());
    ASSERT_TRUE(settled(node));
    expectWindows(utterancesRun(log), {{3.2, 4.7}});
}

/// Interim runs (the ones with an abort callback) go on until whisper.cpp's
/// callback gives them up, as a slow machine's would.
int interimRunsUntilAborted(whisper_context* context, whisper_full_params params, const float* samples, int count)
{
    if (params.abort_callback == nullptr)
        return whisper_full(context, params, samples, count);
    while (!params.abort_callback(params.abort_callback_user_data))
        std::this_thread::sleep_for(1ms);
    return -6;
}

// The utterance ends while its interim run is busy: the run gives way at once
// and the final follows; no interim run of that utterance comes after it.
TEST(NodePartials, AnInterimRunGivesWayToTheFinalAndNoneFollowsIt)
{
    LogCapture log;
    WhisperSTTNode node(testModelConfig({{"autoTranscribe", true}}));
    node.modelSlot().setFullRun(&interimRunsUntilAborted);
    feed(node, render({{1, kNone}, {1.5, -20}}, -70, 16000), 16000, 160);
    ASSERT_TRUE(log.waitForCount("[WhisperSTTNode] Interim run of the utterance [", 1));
    feed(node, render({{1, kNone}}, -70, 16000), 16000, 160);
    ASSERT_TRUE(log.waitForCount(kUtteranceLine, 1, 30s)) << "the final waited for the interim run";
    ASSERT_TRUE(settled(node));
    EXPECT_GE(log.count("[WhisperSTTNode] Run given up for more urgent work."), 1u);
    const auto lines = log.texts("[WhisperSTTNode] ");
    const auto final = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with(kUtteranceLine); });
    EXPECT_TRUE(std::none_of(final, lines.end(), [](const std::string& l) { return l.find("Interim run") != std::string::npos; }));
}

// The final text's steering through the words already shown as settled:
// the next known text token leads every other text token and the end of
// text, timestamps are left to the model, and once the decode has left the
// known words (or is past them) nothing is touched.
TEST(NodePrefixSteering, LeadsThroughTheKnownWordsAndLetsGoWhereTheDecodeLeavesThem)
{
    whisper_context_params contextParams = whisper_context_default_params();
    contextParams.use_gpu = false;
    std::unique_ptr<whisper_context, void (*)(whisper_context*)> context(
        whisper_init_from_file_with_params(weightlessTinyModel().c_str(), contextParams), whisper_free);
    ASSERT_NE(context, nullptr);
    std::unique_ptr<whisper_state, void (*)(whisper_state*)> state(whisper_init_state(context.get()),
                                                                    whisper_free_state);
    ASSERT_NE(state, nullptr);
    corvane::extensions::whisper::PrefixSteering steering;
    EXPECT_FALSE(steering.steerThrough(context.get(), ""));
    ASSERT_TRUE(steering.steerThrough(context.get(), "ask not what"));
    const std::vector<whisper_token> known = steering.tokens();
    ASSERT_GE(known.size(), 3u);

    const whisper_token endOfText = whisper_token_eot(context.get()), timestamp = whisper_token_beg(context.get());
    std::mt19937 random(7);
    std::uniform_real_distribution<float> logit(-10.0f, 10.0f);
    std::vector<float> original(static_cast<std::size_t>(whisper_n_vocab(context.get())));
    std::generate(original.begin(), original.end(), [&] { return logit(random); });
    original[endOfText] = 25.0f; // the model would rather stop
    auto steer = [&](std::vector<whisper_token> ids) {
        std::vector<whisper_token_data> tokens;
        for (whisper_token id : ids) {
            whisper_token_data token{};
            token.id = id;
            tokens.push_back(token);
        }
        std::vector<float> logits = original;
        corvane::extensions::whisper::PrefixSteering::filter(context.get(), state.get(), tokens.data(), static_cast<int>(tokens.size()),
                               logits.data(), &steering);
        return logits;
    };
    auto bestText = [&](const std::vector<float>& logits) {
        return static_cast<whisper_token>(std::max_element(logits.begin(), logits.begin() + endOfText + 1) - logits.begin());
    };

    for (std::size_t step = 0; step < known.size(); ++step) {
        std::vector<whisper_token> decoded{timestamp}; // timestamps between the words do not count
        decoded.insert(decoded.end(), known.begin(), known.begin() + static_cast<std::ptrdiff_t>(step));
        const std::vector<float> logits = steer(decoded);
        EXPECT_EQ(bestText(logits), known[step]) << "step " << step;
        EXPECT_TRUE(std::equal(logits.begin() + timestamp, logits.end(), original.begin() + timestamp));
    }
    EXPECT_EQ(steer(known), original) << "past the known words";
    EXPECT_EQ(steer({known[0] + 1}), original) << "a decode that has left them";

    original[known[0]] = -INFINITY; // a rule of the model's own rules it out
    EXPECT_EQ(steer({}), original);
    steering.clear();
    original[known[0]] = 0.0f;
    EXPECT_EQ(steer({}), original) << "cleared";
}

// Real speech at real time: each utterance's interim texts come before its
// final, their stable part only grows and the final begins with it, and
// silence brings nothing. jfk.wav's
// pauses do not end the utterance here, so that an interim run has the whole
// 11 s to finish in, also on a loaded machine.
TEST(NodePartialsRealModel, InterimTextComesFirstAndTheFinalKeepsItsStablePart)
{
    const std::string model = realTinyModel(), jfk = sharedFile("audio/jfk.wav");
    if (model.empty() || jfk.empty())
        GTEST_SKIP() << "needs ../shared/models/ggml-tiny.en.bin and ../shared/audio/jfk.wav";
    std::vector<float> speech = readMono16k(jfk);
    speech.insert(speech.begin(), 16000, 0.0f);
    speech.insert(speech.end(), 48000, 0.0f);
    WhisperSTTNode node(CVAnyMap{{"modelPath", model}, {"useGPU", false}, {"numberOfThreads", 2},
                                 {"flashAttention", true}, {"autoTranscribe", true}, {"partialIntervalMs", 500},
                                 {"utterancePauseMs", 2000}});
    EventRecorder events(node);
    for (std::size_t at = 0; at < speech.size(); at += 1600) { // 100 ms at a time, as a microphone
        feed(node, std::vector<float>(speech.begin() + at, speech.begin() + std::min(at + 1600, speech.size())), 16000, 160);
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(settled(node));

    std::size_t partials = 0;
    std::set<long long> finished;
    std::map<long long, std::string> stable;
    for (const auto& event : events.all()) {
        const CVAnyMap& data = event.data.asMap();
        const long long start = data.at("start").asInteger();
        if (event.name == "transcribed") {
            EXPECT_TRUE(finished.insert(start).second) << "one final per utterance";
            std::string text = data.at("text").asString();
            text.erase(0, text.find_first_not_of(' '));
            EXPECT_EQ(text.rfind(stable[start], 0), 0u) << "the final '" << text << "' takes back '" << stable[start] << "'";
            continue;
        }
        ++partials;
        EXPECT_FALSE(finished.contains(start)) << "interim text after the final: " << data.at("text").asString();
        const std::string now = data.at("stableText").asString();
        EXPECT_EQ(now.rfind(stable[start], 0), 0u) << "'" << stable[start] << "' shrank to '" << now << "'";
        stable[start] = now;
    }
    EXPECT_GE(partials, 1u); // how many depends on the machine's speed
    EXPECT_GE(finished.size(), 1u);
    EXPECT_GT(events.all().back().data.asMap().at("end").asInteger(), 16000 * 11) << "nothing after the speech";
}

} // namespace
} // namespace corvane::test
