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

TEST_F(ExtensionManagerTest, RegistersAndFindsExtensions)
{
    EXPECT_THROW(manager.registerExtension(nullptr), std::invalid_argument);
    const auto first = add("one");
    const auto second = add("two");
    add("one");

    const auto extensions = manager.getExtensions();
    ASSERT_EQ(extensions.size(), 3u);
    EXPECT_EQ(extensions[0], first);
    EXPECT_EQ(extensions[1], second);
    EXPECT_EQ(manager.findExtension("one"), first);
    EXPECT_EQ(manager.findExtension("two"), second);
    EXPECT_EQ(manager.findExtension("three"), nullptr);

    manager.clear();
    EXPECT_TRUE(manager.getExtensions().empty());
}

TEST_F(ExtensionManagerTest, CreatesNodesThroughTheFirstFactoryThatKnowsTheType)
{
    add("one")->factory->registerNode(fakeType("stt", "whisper"), fakeCreator("one"));
    const auto two = add("two");
    two->factory->registerNode(fakeType("stt", "whisper"), fakeCreator("two"));
    two->factory->registerNode(fakeType("gain"), fakeCreator("two-gain"));

    EXPECT_EQ(dynamic_cast<FakeNode&>(*manager.createNode("stt/whisper", {})).madeBy, "one");
    EXPECT_EQ(dynamic_cast<FakeNode&>(*manager.createNode("gain", {})).madeBy, "two-gain");

    const auto types = manager.getNodeTypes();
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[2].type, "gain");

    try {
        manager.createNode("reverb", {});
        FAIL() << "expected std::invalid_argument";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Unknown node type: reverb");
    }
}

TEST_F(ExtensionManagerTest, CreatorExceptionsReachTheCallerUnchanged)
{
    add("one")->factory->registerNode(fakeType("stt"), [](const CVAnyMap&) -> corvane::Node* {
        throw ModelMissing("model file missing");
    });
    EXPECT_THROW(manager.createNode("stt", {}), ModelMissing);
}

TEST_F(ExtensionManagerTest, LoadLibraryReportsAMissingFile)
{
    const std::string path = "/nonexistent/libCorvaneNothing.so";
    const auto result = manager.loadLibrary(path);
    ASSERT_TRUE(result.hasError());
    const std::string message = result.getError().getMessage();
    const std::string prefix = "Cannot load extension library '" + path + "': ";
    EXPECT_EQ(message.substr(0, prefix.size()), prefix);
    EXPECT_GT(message.size(), prefix.size()); // the loader's own explanation follows
}

TEST_F(ExtensionManagerTest, LoadLibraryRequiresARegistration)
{
    const auto result = manager.loadLibrary(CORVANE_EMPTY_PLUGIN);
    ASSERT_TRUE(result.hasError());
    EXPECT_EQ(result.getError().getMessage(),
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
