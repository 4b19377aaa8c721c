// corvane-whisper as a user meets it, without transcribing: `describe`, and
// every way a command can fail, each with one clear message and an ordinary
// non-zero exit.

#include <filesystem>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <corvane/extensions/ExtensionManager.h>

#include "CliTestSupport.h"
#include "TestModels.h"

namespace corvane::test {
namespace {

using Json = nlohmann::ordered_json;

std::vector<std::string> keysOf(const Json& object)
{
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    return keys;
}

/// The JSON holds exactly the host value, with the same key order and kinds.
void expectSameValue(const CVAny& value, const Json& json, const std::string& where)
{
    switch (value.getType()) {
    case CVAny::Type::Empty:
        EXPECT_TRUE(json.is_null()) << where;
        break;
    case CVAny::Type::Bool:
        EXPECT_TRUE(json.is_boolean() && json.get<bool>() == value.asBool()) << where;
        break;
    case CVAny::Type::Integer:
        EXPECT_TRUE(json.is_number_integer() && json.get<long long>() == value.asInteger()) << where;
        break;
    case CVAny::Type::Float:
        EXPECT_TRUE(json.is_number_float() && json.get<double>() == value.asFloat()) << where;
        break;
    case CVAny::Type::String:
        EXPECT_TRUE(json.is_string() && json.get<std::string>() == value.asString()) << where;
        break;
    case CVAny::Type::Map: {
        ASSERT_TRUE(json.is_object()) << where;
        std::vector<std::string> keys;
        for (const auto& [key, item] : value.asMap()) {
            keys.push_back(key);
            if (json.contains(key))
                expectSameValue(item, json[key], where + "." + key);
        }
        EXPECT_EQ(keysOf(json), keys) << where;
        break;
    }
    }
}

TEST(CliDescribe, PrintsTheLoadedNodeTypeAsJson)
{
    const ProgramRun run = runProgram({cliPath(), "describe"});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.describe();
    const Json all = Json::parse(run.out);
    ASSERT_TRUE(all.is_array());
    ASSERT_EQ(all.size(), 1u);
    const Json& type = all[0];

    EXPECT_EQ(keysOf(type), (std::vector<std::string>{"type", "subtype", "displayName", "description", "categories",
                                                      "configuration", "properties", "actions", "events"}));
    EXPECT_EQ(type["type"], "Whisper");
    EXPECT_EQ(type["subtype"], "STT");
    EXPECT_EQ(type["categories"], Json({"Voice", "AI"}));
    EXPECT_EQ(keysOf(type["actions"]), (std::vector<std::string>{"loadModel", "resetTranscribeWindow", "transcribe"}));
    EXPECT_FALSE(type["actions"]["resetTranscribeWindow"].contains("parameters"));
    EXPECT_EQ(type["actions"]["transcribe"]["parameters"]["start"]["isOptional"], true);
    EXPECT_EQ(type["actions"]["loadModel"]["parameters"]["modelPath"]["isOptional"], false);
    EXPECT_EQ(type["events"]["transcribed"]["data"]["processingTime"]["type"], "int");

    // Every text and value as the library itself describes the type.
    ASSERT_TRUE(ExtensionManager::getInstance().loadLibrary(std::string(CORVANE_BINARY_DIR) + "/libCorvaneWhisper.so"));
    const NodeTypeInfo info = ExtensionManager::getInstance().getNodeTypes().at(0);
    EXPECT_EQ(type["displayName"], info.displayName);
    EXPECT_EQ(type["description"], info.description);
    expectSameValue(CVAny(info.configuration), type["configuration"], "configuration");
    expectSameValue(CVAny(info.properties), type["properties"], "properties");
    expectSameValue(CVAny(info.actions), type["actions"], "actions");
    expectSameValue(CVAny(info.events), type["events"], "events");
}

class CliErrors : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<TemporaryFolder>();
        writeWav(folder->file("speech.wav"), 0.5, 16000, 1);
        std::ofstream(folder->file("x.wav")) << "not audio\n";
        std::ofstream(folder->file("notamodel.bin")) << "not a model either\n";
    }
    static void TearDownTestSuite() { folder.reset(); }

    /// Runs corvane-whisper; it must exit normally with `code` and say
    /// `message` after the error prefix.
    static ProgramRun expectFailure(std::vector<std::string> arguments, int code, const std::string& message)
    {
        arguments.insert(arguments.begin(), cliPath());
        const ProgramRun run = runProgram(arguments, 120);
        EXPECT_TRUE(run.exited) << run.describe();
        EXPECT_EQ(run.exitCode, code) << run.describe();
        EXPECT_NE(run.err.find("corvane-whisper: error: " + message), std::string::npos) << run.describe();
        EXPECT_EQ(run.out, "");
        return run;
    }

    static std::unique_ptr<TemporaryFolder> folder;
};

std::unique_ptr<TemporaryFolder> CliErrors::folder;

TEST_F(CliErrors, AudioFilesThatCannotBeRead)
{
    expectFailure({"transcribe", folder->file("speech.wav"), folder->file("missing.wav")}, 1,
                  "no such file: " + folder->file("missing.wav"));
    // libsndfile's own reason.
    expectFailure({"transcribe", folder->file("x.wav")}, 1,
                  "cannot read audio from " + folder->file("x.wav") + ": Format not recognised");
}

TEST_F(CliErrors, BadFlagValuesAreUsageErrors)
{
    expectFailure({"transcribe", "--step", "0", folder->file("speech.wav")}, 2, "--step");
    expectFailure({"transcribe", "--threads", "abc", folder->file("speech.wav")}, 2, "--threads");
}

TEST_F(CliErrors, ModelsThatCannotBeLoaded)
{
    expectFailure({"transcribe", "--model", folder->file("absent.bin"), folder->file("speech.wav")}, 1,
                  "model file not found: " + folder->file("absent.bin"));
    expectFailure({"transcribe", "--no-gpu", "--model", folder->file("notamodel.bin"), folder->file("speech.wav")}, 1,
                  "cannot load the model " + folder->file("notamodel.bin"));
}

TEST_F(CliErrors, NoDefaultModelSaysWhereItLookedAndHowToGetOne)
{
    const std::string name = "ggml-base.en.bin";
    if (std::filesystem::exists(std::string(CORVANE_BINARY_DIR) + "/" + name) ||
        std::filesystem::exists(std::string(CORVANE_SOURCE_DIR) + "/files/" + name))
        GTEST_SKIP() << "a default model is installed, so the node finds one";
    const ProgramRun run = expectFailure({"transcribe", folder->file("speech.wav")}, 1, "no Whisper model found");
    EXPECT_NE(run.err.find("Extensions/CorvaneWhisper/files/"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("scripts/download-model"), std::string::npos) << run.err;
}

TEST_F(CliErrors, AnExtensionThatCannotBeLoaded)
{
    expectFailure({"describe", "--extension", folder->file("x.wav")}, 1, "Cannot load extension library");
    expectFailure({"--extension", folder->file("absent.so"), "transcribe", folder->file("speech.wav")}, 1,
                  "Cannot load extension library");
}

} // namespace
} // namespace corvane::test
