// The built libCorvaneWhisper.so, loaded by path as a host loads it.

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <corvane/extensions/ExtensionManager.h>

namespace corvane {
namespace {

const std::string kLibraryPath = std::string(CORVANE_BINARY_DIR) + "/libCorvaneWhisper.so";

class ExtensionLibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ExtensionManager::getInstance().clear();
        const auto loaded = ExtensionManager::getInstance().loadLibrary(kLibraryPath);
        ASSERT_TRUE(loaded.isOk()) << loaded.getError().getMessage();
    }

    static std::shared_ptr<Extension> extension()
    {
        const auto all = ExtensionManager::getInstance().getExtensions();
        return all.empty() ? nullptr : all.front();
    }

    static NodeTypeInfo onlyNodeType()
    {
        const auto types = extension()->getNodeFactory()->getNodeTypes();
        EXPECT_EQ(types.size(), 1u);
        return types.at(0);
    }
};

std::vector<std::string> keysOf(const CVAnyMap& map)
{
    std::vector<std::string> keys;
    for (const auto& [key, value] : map)
        keys.push_back(key);
    return keys;
}

using Keys = std::vector<std::string>;

TEST_F(ExtensionLibraryTest, LoadingRegistersExactlyOneExtensionWithItsTexts)
{
    ASSERT_EQ(ExtensionManager::getInstance().getExtensions().size(), 1u);
    EXPECT_EQ(extension()->getName(), "Whisper");
    EXPECT_EQ(extension()->getDescription(), "Whisper integration for on-device speech-to-text transcription.");

    // Loading the same library again must not register a second extension.
    ASSERT_TRUE(ExtensionManager::getInstance().loadLibrary(kLibraryPath).isOk());
    EXPECT_EQ(ExtensionManager::getInstance().getExtensions().size(), 1u);
}

TEST_F(ExtensionLibraryTest, EveryFactoryIsNewAndDescribesTheSameNodeType)
{
    const auto first = extension()->getNodeFactory();
    const auto second = extension()->getNodeFactory();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->getName(), "Whisper");
    EXPECT_EQ(first->getNodeTypes(), second->getNodeTypes());
}

TEST_F(ExtensionLibraryTest, NodeTypeNamesAndCategories)
{
    const NodeTypeInfo info = onlyNodeType();
    EXPECT_EQ(info.type, "Whisper");
    EXPECT_EQ(info.subtype, "STT");
    EXPECT_EQ(info.displayName, "Whisper Speech-to-Text");
    EXPECT_EQ(info.description, "A speech-to-text node using the Whisper model.");
    EXPECT_EQ(info.categories, (Keys{"Voice", "AI"}));
    EXPECT_EQ(keysOf(info.configuration), (Keys{"flashAttention"}));
    EXPECT_TRUE(info.properties.empty());
    EXPECT_EQ(keysOf(info.actions), (Keys{"loadModel", "resetTranscribeWindow", "transcribe"}));
    EXPECT_EQ(keysOf(info.events), (Keys{"modelLoadFailed", "modelLoaded", "transcribed"}));
}

TEST_F(ExtensionLibraryTest, ActionDescriptions)
{
    const NodeTypeInfo info = onlyNodeType();

    const CVAnyMap transcribe = info.getAction("transcribe");
    EXPECT_EQ(keysOf(transcribe), (Keys{"description", "parameters"}));
    EXPECT_EQ(transcribe.at("description").asString(),
              "Triggers transcription of the current input buffer. When start/end are omitted, transcribes "
              "everything received since the previous transcribe call (capped to the 30 s window).");
    const CVAnyMap& transcribeParameters = transcribe.at("parameters").asMap();
    EXPECT_EQ(keysOf(transcribeParameters), (Keys{"end", "start"}));
    EXPECT_EQ(transcribeParameters.at("start").asMap(),
              (CVAnyMap{{"name", "start"},
                        {"type", "int"},
                        {"description", "Start sample index for transcription (16 kHz, absolute). Optional: "
                                        "omit together with 'end' to transcribe since the last transcribe call."},
                        {"isOptional", true}}));
    EXPECT_EQ(transcribeParameters.at("end").asMap(),
              (CVAnyMap{{"name", "end"},
                        {"type", "int"},
                        {"description",
                         "End sample index for transcription (16 kHz, absolute). Optional: omit together with 'start'."},
                        {"isOptional", true}}));

    const CVAnyMap loadModel = info.getAction("loadModel");
    EXPECT_EQ(loadModel.at("description").asString(),
              "Loads a ggml Whisper model from an absolute file path. Emits modelLoaded or modelLoadFailed.");
    const CVAnyMap& loadParameters = loadModel.at("parameters").asMap();
    EXPECT_EQ(keysOf(loadParameters), (Keys{"modelPath", "useGPU"}));
    EXPECT_EQ(loadParameters.at("modelPath").asMap(),
              (CVAnyMap{{"name", "modelPath"},
                        {"type", "string"},
                        {"description", "Absolute path to the .bin ggml model file."},
                        {"isOptional", false}}));
    EXPECT_EQ(loadParameters.at("useGPU").asMap(),
              (CVAnyMap{{"name", "useGPU"},
                        {"type", "boolean"},
                        {"description", "Enable GPU (Metal) acceleration."},
                        {"isOptional", true}}));
    // Booleans, not the strings "true"/"false".
    EXPECT_TRUE(loadParameters.at("useGPU").asMap().at("isOptional").isBool());

    const CVAnyMap reset = info.getAction("resetTranscribeWindow");
    EXPECT_EQ(keysOf(reset), (Keys{"description"}));
    EXPECT_EQ(reset.at("description").asString(),
              "Clears the input buffer and resets the since-last-transcribe window to 'now'. Call after routing "
              "audio to this node (e.g. after flipping a BusSwitch) so stale/silent audio is not transcribed.");
}

TEST_F(ExtensionLibraryTest, EventDescriptions)
{
    const NodeTypeInfo info = onlyNodeType();
    auto field = [](const char* name, const char* type, const char* description) {
        return CVAny(CVAnyMap{{"name", name}, {"type", type}, {"description", description}});
    };

    EXPECT_EQ(info.getEvent("transcribed"),
              (CVAnyMap{{"name", "transcribed"},
                        {"description", "Emitted when transcription is completed."},
                        {"data", CVAnyMap{{"text", field("text", "string", "The transcribed text.")},
                                          {"processingTime", field("processingTime", "int",
                                                                   "Time taken for transcription in milliseconds.")}}}}));
    EXPECT_EQ(info.getEvent("modelLoaded"),
              (CVAnyMap{{"name", "modelLoaded"},
                        {"description", "Emitted when a model is loaded successfully."},
                        {"data", CVAnyMap{{"modelPath", field("modelPath", "string", "Path of the loaded model.")}}}}));
    EXPECT_EQ(info.getEvent("modelLoadFailed"),
              (CVAnyMap{{"name", "modelLoadFailed"},
                        {"description", "Emitted when loading a model fails."},
                        {"data", CVAnyMap{{"modelPath", field("modelPath", "string", "Path of the model that failed.")},
                                          {"error", field("error", "string", "Failure reason.")}}}}));
}

TEST_F(ExtensionLibraryTest, NodesAreCreatedThroughTheHostByType)
{
    // No model: a node without one is still a node.
    const CVAnyMap config{{"initializeModel", false}};
    auto node = ExtensionManager::getInstance().createNode("Whisper", config);
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->hasAction("transcribe"));
    EXPECT_EQ(node->getEventNames(), (Keys{"transcribed", "modelLoaded", "modelLoadFailed"}));
    EXPECT_NE(ExtensionManager::getInstance().createNode("Whisper/STT", config), nullptr);
    EXPECT_THROW(ExtensionManager::getInstance().createNode("Whisper", {{"useGPU", "maybe"}}), std::exception);
}

/// Defined symbols of the library's dynamic symbol table, demangled.
std::set<std::string> exportedSymbols()
{
    std::set<std::string> symbols;
    const std::string command = "nm -D --defined-only --demangle '" + kLibraryPath + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return symbols;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        // "<address> <kind> <name>"
        const auto nameStart = text.find(' ', text.find(' ') + 1);
        if (nameStart != std::string::npos)
            symbols.insert(text.substr(nameStart + 1));
    }
    return symbols;
}

TEST_F(ExtensionLibraryTest, ExportsExactlyTheExtensionEntryPoints)
{
    const std::string cls = "corvane::extensions::whisper::WhisperExtension";
    const std::set<std::string> expected{
        cls + "::WhisperExtension()",
        cls + "::~WhisperExtension()",
        "vtable for " + cls,
        cls + "::getDescription[abi:cxx11]()",
        cls + "::getName[abi:cxx11]()",
        cls + "::getNodeFactory()",
        cls + "::load()",
        "cv_extension_anchor_CorvaneWhisper",
    };
    const std::set<std::string> actual = exportedSymbols();
    ASSERT_FALSE(actual.empty()) << "could not read the dynamic symbol table with nm";
    // Constructor and destructor variants (complete/base/deleting) demangle to
    // the same name, so the set comparison sees each once.
    EXPECT_EQ(actual, expected);
}

} // namespace
} // namespace corvane
