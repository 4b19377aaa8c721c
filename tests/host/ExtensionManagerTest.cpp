#include <corvane/extensions/ExtensionManager.h>

#include <gtest/gtest.h>

#include "FakeExtension.h"

using corvane::CVAnyMap;
using corvane::ExtensionManager;

namespace {

struct ModelMissing : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ExtensionManagerTest : public ::testing::Test {
protected:
    void SetUp() override { manager.clear(); }
    void TearDown() override { manager.clear(); }

    std::shared_ptr<FakeExtension> add(const std::string& name)
    {
        auto extension = std::make_shared<FakeExtension>(name);
        manager.registerExtension(extension);
        return extension;
    }

    ExtensionManager& manager = ExtensionManager::getInstance();
};

} // namespace

TEST_F(ExtensionManagerTest, CreatesNodesThroughTheFirstFactoryThatKnowsTheType)
{
    EXPECT_THROW(manager.registerExtension(nullptr), std::invalid_argument);
    const auto one = add("one");
    one->factory->registerNode(fakeType("stt", "whisper"), fakeCreator("one"));
    one->factory->registerNode(fakeType("vad"), [](const CVAnyMap&) -> corvane::Node* {
        throw ModelMissing("model file missing");
    });
    const auto two = add("two");
    two->factory->registerNode(fakeType("stt", "whisper"), fakeCreator("two"));
    two->factory->registerNode(fakeType("gain"), fakeCreator("two-gain"));
    EXPECT_EQ(manager.findExtension("two"), two);
    EXPECT_EQ(manager.findExtension("three"), nullptr);

    EXPECT_EQ(dynamic_cast<FakeNode&>(*manager.createNode("stt/whisper", {})).madeBy, "one");
    EXPECT_EQ(dynamic_cast<FakeNode&>(*manager.createNode("gain", {})).madeBy, "two-gain");
    EXPECT_THROW(manager.createNode("vad", {}), ModelMissing); // unchanged
    try {
        manager.createNode("reverb", {});
        FAIL() << "expected std::invalid_argument";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Unknown node type: reverb");
    }
    const auto types = manager.getNodeTypes();
    ASSERT_EQ(types.size(), 4u);
    EXPECT_EQ(types[3].type, "gain");
}

TEST_F(ExtensionManagerTest, LoadLibraryNeedsAFileThatRegistersAnExtension)
{
    const std::string path = "/nonexistent/libCorvaneNothing.so";
    const auto missing = manager.loadLibrary(path);
    ASSERT_TRUE(missing.hasError());
    const std::string message = missing.getError().getMessage();
    const std::string prefix = "Cannot load extension library '" + path + "': ";
    EXPECT_EQ(message.substr(0, prefix.size()), prefix);
    EXPECT_GT(message.size(), prefix.size()); // the loader's own explanation follows

    const auto empty = manager.loadLibrary(CORVANE_EMPTY_PLUGIN);
    ASSERT_TRUE(empty.hasError());
    EXPECT_EQ(empty.getError().getMessage(),
              std::string("Extension library '") + CORVANE_EMPTY_PLUGIN + "' registered no extension");
}

TEST_F(ExtensionManagerTest, LoadingALibraryAgainDoesNotRegisterTwice)
{
    ASSERT_TRUE(manager.loadLibrary(CORVANE_TEST_PLUGIN).isOk());
    ASSERT_NE(manager.findExtension("test-plugin"), nullptr);
    EXPECT_TRUE(manager.loadLibrary(CORVANE_TEST_PLUGIN).isOk());
    EXPECT_EQ(manager.getExtensions().size(), 1u);
    EXPECT_NE(manager.createNode("plugin-node", {}), nullptr);
}
