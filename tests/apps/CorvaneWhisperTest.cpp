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
#include "ProgramRun.h"
#include "TestModels.h"
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
    EXPECT_EQ(formatJsonLine("a b.wav", {0, 40000}, {" hi \"there\"", 812}),
              R"({"file":"a b.wav","start":0.0,"end":2.5,"text":"hi \"there\"","processingTime":812})");
    // A token boundary can fall inside a UTF-8 sequence.
    EXPECT_TRUE(nlohmann::json::accept(formatJsonLine("f.wav", {0, 16000}, {"caf\xc3", 1})));
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
        EXPECT_EQ(window.size(), 5u) << line;
        EXPECT_TRUE(window.at("text").is_string() && window.at("processingTime").is_number_integer()) << line;
        EXPECT_EQ(window.at("file"), i < 2 ? speech : stereo) << line;
        EXPECT_EQ(window.at("start"), i % 2 == 0 ? 0.0 : 2.0) << line;
        EXPECT_NEAR(window.at("end").get<double>(), i % 2 == 0 ? 2.0 : duration, 0.02) << line;
    }
    EXPECT_EQ(i, 4u) << run.out;
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
