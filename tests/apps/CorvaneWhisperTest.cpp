// corvane-whisper: its pieces in-process, then the built extension library and
// program used as a host and a user use them.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <corvane/extensions/ExtensionManager.h>

#include "AllocationCounter.h"
#include "AudioFeeder.h"
#include "AudioFileReader.h"
#include "CommandError.h"
#include "NodeUtterances.h"
#include "ProgramRun.h"
#include "TestModels.h"
#include "TranscriptFormats.h"
#include "TranscriptPrinter.h"
#include "WindowSchedule.h"

namespace corvane::cli {

void PrintTo(const WindowSchedule::Window& window, std::ostream* out) // where GoogleTest looks for it
{
    *out << window.start << ".." << window.end;
}

namespace {

TEST(WindowSchedule, WindowsAreContiguousInNodeSamplesAndNeverLongerThanTheNodeKeeps)
{
    using Window = WindowSchedule::Window;
    const struct {
        const char* what;
        double sampleRate, stepSeconds;
        std::uint64_t fileFrames;
        int stepsSkippedFirst;
        std::vector<std::optional<Window>> windows; ///< endWindow(), call after call
    } schedules[]{
        {"11.3 s at 44.1 kHz in 2 s steps", 44100.0, 2.0, 498330, 0,
         {Window{0, 32000}, Window{32000, 64000}, Window{64000, 96000}, Window{96000, 128000},
          Window{128000, 160000}, Window{160000, 180800}, std::nullopt}},
        {"frames round to the nearest node sample (81024.58)", 22050.0, 30.0, 111662, 0, {Window{0, 81025}}},
        {"a step too short for the node grows into the next", 16000.0, 0.02, 16000, 0,
         {std::nullopt, std::nullopt, Window{0, 960}}},
        {"the final window is kept however short", 16000.0, 2.0, 32010, 0, {Window{0, 32000}, Window{32000, 32010}}},
        {"skipped steps make the next window reach back", 16000.0, 1.0, 160000, 2, {Window{0, 48000}}},
        {"a longer window starts 30 s before its end", 16000.0, 25.0, 1600000, 1, {Window{320000, 800000}}},
    };
    for (const auto& expected : schedules) {
        SCOPED_TRACE(expected.what);
        WindowSchedule schedule(expected.sampleRate, expected.fileFrames, expected.stepSeconds);
        for (int i = 0; i < expected.stepsSkippedFirst; ++i)
            schedule.skipStep();
        for (std::size_t i = 0; i < expected.windows.size(); ++i)
            EXPECT_EQ(schedule.endWindow(), expected.windows[i]) << "call " << i;
    }
}

TEST(OutputFormat, TextAndJsonLines)
{
    EXPECT_EQ(formatTimestamp(59.9996), "01:00.000");
    Transcription said{" hi \"there\"", 812, 1000, 41000, {{" hi", 1800, 9000, 0.5, 0.25, {{" hi", 1800, 9000, 0.5}}}}, true};
    EXPECT_EQ(formatJsonUtterance("a b.wav", timeUtterance({0, 40000}, said)),
              R"({"file":"a b.wav","start":0.0,"end":2.5,"text":"hi \"there\"","processingTime":812,)"
              R"("segments":[{"start":0.05,"end":0.5,"text":"hi","probability":0.5,"noSpeechProbability":0.25,)"
              R"("words":[{"text":"hi","start":0.05,"end":0.5,"probability":0.5}]}]})");
    // A token boundary can fall inside a UTF-8 sequence.
    EXPECT_TRUE(nlohmann::json::accept(formatJsonUtterance("f.wav", timeUtterance({0, 16000}, {"caf\xc3", 1, 0, 0, {}, false}))));
    EXPECT_EQ(formatSrt({{0, 5, "caf\xc3"}}), "1\n00:00:00,000 --> 00:00:00,005\ncaf\xEF\xBF\xBD\n\n");
}

std::string expectedFile(const std::string& name)
{
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/tests/apps/expected/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Two utterances, the second an hour in: a segment that starts before the
// previous one ends, text that needs escaping in WebVTT, 30 characters of
// 32 bytes, and a segment cut into lines of at most 30 by its words.
TEST(OutputFormat, SubtitlesAreExactlyTheHandWrittenFiles)
{
    TimedSegment american{"And so my fellow Americans ask not what your country can do for you", 3725.33, 3728.9, 0.9, 0.1, {}};
    const std::vector<std::pair<const char*, double>> words{
        {"And", 5.33}, {"so", 5.45}, {"my", 5.8}, {"fellow", 5.95}, {"Americans", 6.4}, {"ask", 7.3}, {"not", 7.6},
        {"what", 7.9}, {"your", 8.0}, {"country", 8.1}, {"can", 8.4}, {"do", 8.5}, {"for", 8.6}, {"you", 8.7}};
    for (std::size_t i = 0; i < words.size(); ++i)
        american.words.push_back({words[i].first, 3720 + words[i].second,
                                  3720 + (i + 1 < words.size() ? words[i + 1].second : 8.9) - (i == 5 ? 0.05 : 0), 0.9});
    const std::vector<TimedUtterance> stream{
        {"", 0.0, 4.2, 100, {{"Caf\u00e9 au lait, s'il vous pla\u00eet.", 0.33, 2.1, 0.8, 0.1, {}},
                             {"Tom & Jerry <3", 2.05, 3.4, 0.7, 0.2, {}}}, false},
        {"", 3725.0, 3729.0, 100, {american}, true},
    };
    EXPECT_EQ(formatDocument(OutputFormat::Srt, "x", stream, 0), expectedFile("short-stream.srt"));
    EXPECT_EQ(formatDocument(OutputFormat::Vtt, "x", stream, 30), expectedFile("short-stream-30.vtt"));
    EXPECT_EQ(formatDocument(OutputFormat::Tsv, "x", {stream[0]}, 0),
              "start\tend\ttext\n330\t2100\tCaf\u00e9 au lait, s'il vous pla\u00eet.\n2100\t3400\tTom & Jerry <3\n");
}

/// Records what consume() receives into storage made up front, counting the
/// feeding thread's allocations from its first block to the last expected.
class RecordingSink : public AudioSinkNode {
public:
    explicit RecordingSink(std::uint64_t framesExpected) : received(2 * framesExpected), expected(framesExpected) {}
    bool setBusFormats(AudioBusFormatList&) override { return true; }
    bool consume(AudioBusList& buses) override
    {
        const AudioBuffer<float>& buffer = buses.getBus(0).getBuffer();
        if (frames == 0)
            counter.start();
        largestBlock = std::max(largestBlock, buffer.getNumberOfFrames());
        std::copy_n(buffer.getReadPointer(0), buffer.getNumberOfFrames(), received.begin() + frames);
        frames += buffer.getNumberOfFrames();
        if (frames >= expected)
            counter.stop();
        return buffer.getSampleRate() == 44100.0 && buffer.getNumberOfChannels() == 1;
    }

    std::vector<float> received;
    std::uint64_t expected, frames = 0;
    std::uint32_t largestBlock = 0;
    test::AllocationCounter counter;
};

TEST(AudioFeederRealTime, StopsExactlyAtEachTargetThenFlushesWithSilenceAllocatingNothing)
{
    std::vector<float> file(2 * 44100 + 37); // not a whole number of 441-frame blocks
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = 0.5f + static_cast<float>(i % 1000) / 4000.0f;
    const std::uint64_t total = file.size() + 4410;
    RecordingSink sink(total);
    {
        AudioFeeder feeder(sink, file, 44100.0, false);
        feeder.start();
        for (std::uint64_t step = 1000; step < total + 20000; step += 20000) {
            feeder.feedUntil(step); // capped at the end of the flush
            while (feeder.getFramesFed() < std::min(step, total))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_EQ(feeder.getFramesFed(), std::min(step, total));
        }
        EXPECT_EQ(feeder.getRefusedBlocks(), 0u) << "a block not mono at the file's rate";
    }
    ASSERT_EQ(sink.frames, total); // so the counting has stopped
    EXPECT_EQ(sink.largestBlock, 441u);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), sink.received.begin()));
    EXPECT_TRUE(std::all_of(sink.received.begin() + static_cast<std::ptrdiff_t>(file.size()),
                            sink.received.begin() + static_cast<std::ptrdiff_t>(total), [](float s) { return s == 0.0f; }));
    EXPECT_EQ(sink.counter.count(), 0u);
    EXPECT_EQ(sink.counter.lockCount(), 0u);
}

// A node that has one utterance pending and never answers it but with a
// failure: the command ends at once with the node's reason, not at --timeout.
TEST(NodeUtterances, AWindowThatCannotBeTranscribedStopsTheCommandAtOnce)
{
    struct PendingNode : Node {
        Result<CVAny> callAction(const std::string&, const CVAnyMap&) override
        {
            return CVAny(CVAnyMap{{"receivedSamples", 32000}, {"examinedSamples", 32000}, {"neededFrom", 0},
                                  {"pendingUtterances", 1}});
        }
    } node;
    TranscriptionQueue queue;
    TranscriptPrinter printer(stdout, false);
    StatusReporter status(true);
    for (const bool failuresEnd : {true, false}) {
        NodeUtterances::Settings settings;
        settings.failuresEnd = failuresEnd;
        NodeUtterances utterances(node, queue, printer, status, settings);
        utterances.beginSource("talk.wav");
        queue.push(CVAny(CVAnyMap{{"error", "whisper.cpp failed to process the audio: whisper_full returned -6"},
                                  {"processingTime", 3}, {"start", 32000}, {"end", 48000}}));
        if (failuresEnd) {
            try {
                utterances.pump(std::chrono::milliseconds(5));
                ADD_FAILURE() << "no error";
            } catch (const TranscriptionStopped& stopped) {
                EXPECT_EQ(std::string(stopped.what()), "could not transcribe talk.wav [00:00.000 --> 00:01.000]: "
                                                       "whisper.cpp failed to process the audio: whisper_full returned -6");
                EXPECT_EQ(stopped.getExitCode(), kExitFailure);
            }
        } else {
            EXPECT_NO_THROW(utterances.pump(std::chrono::milliseconds(5))) << "listen reports it and goes on";
        }
    }
}

} // namespace
} // namespace corvane::cli

namespace corvane::test {
namespace {

using Json = nlohmann::ordered_json;

TEST(CliProgram, DescribePrintsTheLoadedNodeTypeAsJson)
{
    const ProgramRun run = runCli({"describe"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out).at(0).at("actions").at("loadModel").at("parameters").at("useGPU").dump(),
              R"({"description":"Enable GPU (Metal) acceleration.","isOptional":true,"name":"useGPU","type":"boolean"})");
}

TEST(CliProgram, EachFailureExitsWithItsMessageAndNoCoreDump)
{
    const std::string speech = temporaryFile("silence.wav"), garbage = temporaryFile("x.wav"),
                      notAModel = temporaryFile("notamodel.bin"), absent = temporaryFile("absent");
    SF_INFO format{0, 16000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* wav = sf_open(speech.c_str(), SFM_WRITE, &format);
    const std::vector<short> halfASecond(8000, 0);
    ASSERT_EQ(sf_writef_short(wav, halfASecond.data(), 8000), 8000);
    sf_close(wav);
    std::ofstream(garbage) << "not audio\n";
    std::ofstream(notAModel) << "not a model either\n";

    std::vector<std::tuple<std::vector<std::string>, int, std::string>> failures{
        {{"transcribe", speech, absent}, 1, "no such file: " + absent},
        {{"transcribe", garbage}, 1, "cannot read audio from " + garbage + ": Format not recognised"},
        {{"transcribe", "--step", "0", speech}, 2, "--step"},
        {{"transcribe", "--model", absent, speech}, 1, "model file not found: " + absent},
        {{"transcribe", "--no-gpu", "--model", notAModel, speech}, 1, "cannot load the model " + notAModel},
        {{"--extension", absent, "transcribe", speech}, 1, "Cannot load extension library"},
        {{"transcribe", "--output-format", "srt", "--output-dir", garbage, speech}, 1,
         "cannot write to the output folder " + garbage + ": Not a directory"},
        {{"transcribe", "--output-format", "vtt", "--output-dir", "/proc/self", speech}, 1,
         "cannot write to the output folder /proc/self: "},
    };
    // Only where no model is installed: any of these becomes the default or its stand-in.
    const bool modelInstalled = std::ranges::any_of(
        std::vector<std::string>{"ggml-base.en.bin", "ggml-small.en.bin", "ggml-tiny.en.bin"}, [](const std::string& name) {
            return std::filesystem::exists(std::string(CORVANE_BINARY_DIR) + "/" + name) ||
                   std::filesystem::exists(std::string(CORVANE_SOURCE_DIR) + "/files/" + name);
        });
    if (!modelInstalled)
        failures.push_back({{"transcribe", speech}, 1, "no Whisper model found: the node looked for ggml-base.en.bin in " +
                                                           std::string(CORVANE_BINARY_DIR) + "/ and in "});
    for (const auto& [arguments, exitCode, message] : failures) {
        const ProgramRun run = runCli(arguments);
        EXPECT_EQ(run.exitCode, exitCode) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("corvane-whisper: error: " + message), std::string::npos) << run.err;
        if (message.find("output folder") != std::string::npos) { // refused before whisper.cpp logs anything
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
        }
    }
}

std::vector<std::string> withTestModel(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {"transcribe", "--model", weightlessTinyModel(), "--no-gpu", "--threads", "2"});
    return arguments;
}

// A recording with the voice on one side only must not come out silent.
TEST(AudioFileReader, ChannelsAreAveragedSoOneSidedAudioIsKept)
{
    const std::string path = temporaryFile("right-only.wav");
    SF_INFO info{};
    info.samplerate = 16000, info.channels = 2, info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    std::vector<float> frames(2 * 1000, 0.0f);
    for (std::size_t i = 0; i < 1000; ++i)
        frames[2 * i + 1] = 0.5f * std::sin(0.05f * static_cast<float>(i)); // right channel only
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(sf_writef_float(file, frames.data(), 1000), 1000);
    sf_close(file);

    const cli::MonoAudio audio = cli::readMonoAudio(path);
    ASSERT_EQ(audio.samples.size(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i)
        ASSERT_FLOAT_EQ(audio.samples[i], frames[2 * i + 1] / 2) << "frame " << i;
}

// Speech the project makes itself (espeak-ng: about 3 s at 22.05 kHz mono), so
// that this runs without the shared folder. Each file's windows start at 0,
// each where the last ended, and the last ends at the file's end.
TEST(CliTranscribe, OneNodeTranscribesFilesOfDifferentRatesAndChannelCountsInContiguousWindows)
{
    const std::string speech = temporaryFile("speech.wav"), stereo = temporaryFile("speech-44k-stereo.wav");
    if (runProgram({"espeak-ng", "-w", speech, "Testing the command line host, one two three."}).exitCode != 0 ||
        runProgram({"sox", "-D", speech, "-r", "44100", "-c", "2", stereo}).exitCode != 0)
        GTEST_SKIP() << "needs espeak-ng and sox to make speech to transcribe";
    SF_INFO info{};
    sf_close(sf_open(speech.c_str(), SFM_READ, &info));
    const double duration = static_cast<double>(info.frames) / info.samplerate;

    const ProgramRun run = runCli(withTestModel({"--json", "--step", "2", speech, stereo}));
    EXPECT_NE(run.err.find("real-time factor"), std::string::npos) << run.err;
    std::istringstream lines(run.out);
    std::size_t i = 0;
    for (std::string line; std::getline(lines, line); ++i) {
        const Json window = Json::parse(line);
        EXPECT_EQ(window.size(), 6u) << line;
        EXPECT_TRUE(window.at("text").is_string() && window.at("processingTime").is_number_integer()) << line;
        EXPECT_EQ(window.at("file"), i < 2 ? speech : stereo) << line;
        EXPECT_EQ(window.at("start"), i % 2 == 0 ? 0.0 : 2.0) << line;
        EXPECT_NEAR(window.at("end").get<double>(), i % 2 == 0 ? 2.0 : duration, 0.02) << line;
    }
    EXPECT_EQ(i, 4u) << run.out;
}

// The weight-less model recognises nothing, so the documents are empty ones.
TEST(CliTranscribe, DocumentsAreNamedAfterEachInputInTheOutputFolder)
{
    const std::string speech = temporaryFile("talk \u00f1and\u00fa.wav");
    const auto folder = std::filesystem::path(temporaryFile("documents"));
    std::filesystem::remove_all(folder);
    if (runProgram({"espeak-ng", "-w", speech, "Subtitles for everyone."}).exitCode != 0)
        GTEST_SKIP() << "needs espeak-ng to make speech to transcribe";
    const ProgramRun run = runCli(withTestModel({"--output-format", "srt,vtt", "--output-format", "json",
                                                 "--output-dir", folder.string(), speech}));
    ASSERT_TRUE(run.succeeded()) << run.describe();
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        written.insert(entry.path().filename().string());
    EXPECT_EQ(written, (std::set<std::string>{"talk \u00f1and\u00fa.srt", "talk \u00f1and\u00fa.vtt",
                                              "talk \u00f1and\u00fa.json"}));
    std::ifstream vtt(folder / "talk \u00f1and\u00fa.vtt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(vtt), {}), "WEBVTT\n\n");
    std::ifstream json(folder / "talk \u00f1and\u00fa.json");
    EXPECT_EQ(Json::parse(json).at("file"), speech);
}

TEST(CliTranscribe, WithoutFilesItTranscribesWhisperCppsSampleAsTextLines)
{
    if (!std::filesystem::exists(std::string(CORVANE_SOURCE_DIR) + "/third_party/whisper.cpp/samples/jfk.mp3"))
        GTEST_SKIP() << "third_party/whisper.cpp/samples/jfk.mp3 is absent; scripts/fetch-whisper provides it";
    const ProgramRun run = runCli(withTestModel({"--step", "30"}));
    EXPECT_TRUE(std::regex_match(run.out, std::regex(R"(\[00:00\.000 --> 00:11\.\d{3}\]  [^\n]*\n)"))) << run.out;
}

TEST(CliRealModel, JfkSaysAskNotWhatYourCountryCanDoForYou)
{
    const std::string model = sharedFile("models/ggml-tiny.en.bin"), jfk = sharedFile("audio/jfk.wav");
    if (model.empty() || jfk.empty())
        GTEST_SKIP() << "needs models/ggml-tiny.en.bin and audio/jfk.wav in " << CORVANE_SHARED_DIR;
    const ProgramRun run = runCli({"transcribe", "--model", model, "--no-gpu", "--threads", "2", "--step", "30", jfk});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(std::regex_replace(run.out, std::regex("[^a-zA-Z]+"), " ").find("ask not what your country can do for you"),
              std::string::npos) << run.out;
}

// Cues of at most 20 characters, cut at words, in order and never overlapping.
TEST(CliRealModel, JfkAsSubtitlesOnStdout)
{
    const std::string model = sharedFile("models/ggml-tiny.en.bin"), jfk = sharedFile("audio/jfk.wav");
    if (model.empty() || jfk.empty())
        GTEST_SKIP() << "needs models/ggml-tiny.en.bin and audio/jfk.wav in " << CORVANE_SHARED_DIR;
    const ProgramRun run = runCli({"transcribe", "--model", model, "--no-gpu", "--threads", "2", "--output-format",
                                   "srt", "--max-line-length", "20", jfk});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    const std::regex cue(R"((\d+)\n(\d\d):(\d\d):(\d\d),(\d{3}) --> (\d\d):(\d\d):(\d\d),(\d{3})\n([^\n]{1,20})\n\n)");
    long long previousEnd = 0, cues = 0;
    std::string rest = run.out, words;
    for (std::smatch match; std::regex_search(rest, match, cue, std::regex_constants::match_continuous);
         rest = match.suffix()) {
        const auto ms = [&](int at) {
            return ((std::stoll(match[at]) * 60 + std::stoll(match[at + 1])) * 60 + std::stoll(match[at + 2])) * 1000 +
                   std::stoll(match[at + 3]);
        };
        EXPECT_EQ(std::stoll(match[1]), ++cues);
        EXPECT_LE(previousEnd, ms(2)) << match[0];
        EXPECT_LT(ms(2), ms(6)) << match[0];
        previousEnd = ms(6);
        words += match[10].str() + " ";
    }
    EXPECT_EQ(rest, "") << run.out;
    EXPECT_GE(cues, 4);
    EXPECT_NE(std::regex_replace(words, std::regex("[^a-zA-Z]+"), " ").find("ask not what your country can do for you"),
              std::string::npos) << run.out;
}

// The built library, loaded by path as a host loads it.
const std::string kLibraryPath = std::string(CORVANE_BINARY_DIR) + "/libCorvaneWhisper.so";

TEST(ExtensionLibrary, RegistersOnceAndExportsExactlyItsEntryPoints)
{
    ExtensionManager& manager = ExtensionManager::getInstance();
    ASSERT_TRUE(manager.loadLibrary(kLibraryPath).isOk());
    ASSERT_TRUE(manager.loadLibrary(kLibraryPath).isOk());
    ASSERT_EQ(manager.getExtensions().size(), 1u);
    EXPECT_EQ(manager.findExtension("Whisper")->getDescription(),
              "Whisper integration for on-device speech-to-text transcription.");

    std::set<std::string> exported; // demangled; constructor variants collapse into one name
    std::istringstream symbols(runProgram({"nm", "-D", "--defined-only", "--demangle", kLibraryPath}).out);
    for (std::string line; std::getline(symbols, line);) // "<address> <kind> <name>"
        exported.insert(line.substr(line.find(' ', line.find(' ') + 1) + 1));
    const std::string cls = "corvane::extensions::whisper::WhisperExtension";
    EXPECT_EQ(exported, (std::set<std::string>{cls + "::WhisperExtension()", cls + "::~WhisperExtension()",
                                               "vtable for " + cls, cls + "::getDescription[abi:cxx11]()",
                                               cls + "::getName[abi:cxx11]()", cls + "::getNodeFactory()",
                                               cls + "::load()", "cv_extension_anchor_CorvaneWhisper"}));
}

} // namespace
} // namespace corvane::test
