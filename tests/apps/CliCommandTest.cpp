// corvane-whisper without transcribing: `describe`, and every way a command
// fails, each with one clear message and an ordinary non-zero exit.

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <corvane/extensions/ExtensionManager.h>

#include "CliTestSupport.h"

namespace corvane::test {
namespace {

using Json = nlohmann::ordered_json;

/// Made here rather than with the program's own conversion, so a fault there
/// shows. Dumped, it tells 1 from 1.0 and keeps the maps' key order.
Json expectedJson(const CVAny& value)
{
    switch (value.getType()) {
    case CVAny::Type::Empty: return nullptr;
    case CVAny::Type::Bool: return value.asBool();
    case CVAny::Type::Integer: return value.asInteger();
    case CVAny::Type::Float: return value.asFloat();
    case CVAny::Type::String: return value.asString();
    case CVAny::Type::Map: break;
    }
    Json object = Json::object();
    for (const auto& [key, item] : value.asMap())
        object[key] = expectedJson(item);
    return object;
}

TEST(CliDescribe, PrintsTheLoadedNodeTypeAsJson)
{
    const ProgramRun run = runCli({"describe"});
    ASSERT_TRUE(run.succeeded()) << run.describe();
    const Json described = Json::parse(run.out);

    ASSERT_TRUE(ExtensionManager::getInstance().loadLibrary(std::string(CORVANE_BINARY_DIR) + "/libCorvaneWhisper.so"));
    const NodeTypeInfo info = ExtensionManager::getInstance().getNodeTypes().at(0);
    const Json type = Json::object({{"type", info.type},
                                    {"subtype", info.subtype},
                                    {"displayName", info.displayName},
                                    {"description", info.description},
                                    {"categories", info.categories},
                                    {"configuration", expectedJson(CVAny(info.configuration))},
                                    {"properties", expectedJson(CVAny(info.properties))},
                                    {"actions", expectedJson(CVAny(info.actions))},
                                    {"events", expectedJson(CVAny(info.events))}});
    EXPECT_EQ(described.dump(2), Json::array({type}).dump(2));

    // What clients of the description rely on, whatever the library says.
    const Json& actions = described.at(0).at("actions");
    EXPECT_FALSE(actions.at("resetTranscribeWindow").contains("parameters"));
    EXPECT_EQ(actions.at("transcribe").at("parameters").at("start").at("isOptional"), true);
    EXPECT_EQ(actions.at("loadModel").at("parameters").at("modelPath").at("isOptional"), false);
}

TEST(CliErrors, EachFailureExitsWithItsMessageAndNoCoreDump)
{
    const std::string speech = temporaryFile("speech.wav"), garbage = temporaryFile("x.wav"),
                      notAModel = temporaryFile("notamodel.bin"), absent = temporaryFile("absent");
    SF_INFO format{0, 16000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* wav = sf_open(speech.c_str(), SFM_WRITE, &format);
    ASSERT_NE(wav, nullptr) << sf_strerror(nullptr);
    const std::vector<short> halfASecond(8000, 0);
    sf_writef_short(wav, halfASecond.data(), 8000);
    sf_close(wav);
    std::ofstream(garbage) << "not audio\n";
    std::ofstream(notAModel) << "not a model either\n";

    struct Failure {
        std::vector<std::string> arguments;
        int exitCode;
        std::string message; ///< After the error prefix.
        std::vector<std::string> hints = {};
    };
    std::vector<Failure> failures{
        {{"transcribe", speech, absent}, 1, "no such file: " + absent},
        {{"transcribe", garbage}, 1, "cannot read audio from " + garbage + ": Format not recognised"}, // libsndfile's
        {{"transcribe", "--step", "0", speech}, 2, "--step"},
        {{"transcribe", "--threads", "abc", speech}, 2, "--threads"},
        {{"transcribe", "--model", absent, speech}, 1, "model file not found: " + absent},
        {{"transcribe", "--no-gpu", "--model", notAModel, speech}, 1, "cannot load the model " + notAModel},
        {{"describe", "--extension", garbage}, 1, "Cannot load extension library"},
        {{"--extension", absent, "transcribe", speech}, 1, "Cannot load extension library"},
    };
    const std::string defaultModel = "ggml-base.en.bin";
    if (std::filesystem::exists(std::string(CORVANE_BINARY_DIR) + "/" + defaultModel) ||
        std::filesystem::exists(std::string(CORVANE_SOURCE_DIR) + "/files/" + defaultModel))
        std::cout << "[ note ] a default model is installed, so running without --model is not an error here\n";
    else
        failures.push_back({{"transcribe", speech}, 1, "no Whisper model found", // where it looked, how to get one
                            {"Extensions/CorvaneWhisper/files/", "scripts/download-model"}});

    for (const Failure& failure : failures) {
        const ProgramRun run = runCli(failure.arguments);
        SCOPED_TRACE(failure.message + "\n" + run.describe());
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, failure.exitCode);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("corvane-whisper: error: " + failure.message), std::string::npos);
        for (const std::string& hint : failure.hints)
            EXPECT_NE(run.err.find(hint), std::string::npos) << hint;
    }
}

} // namespace
} // namespace corvane::test
