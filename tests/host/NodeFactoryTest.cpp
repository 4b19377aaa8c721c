#include <corvane/graph/NodeFactory.h>

#include <memory>

#include <gtest/gtest.h>

#include "FakeExtension.h"

using corvane::CVAnyMap;
using corvane::NodeFactory;
using corvane::NodeTypeInfo;

namespace {

std::string madeBy(corvane::Node* node)
{
    const std::unique_ptr<corvane::Node> owned(node);
    const auto* fake = dynamic_cast<FakeNode*>(node);
    return fake ? fake->madeBy : "(none)";
}

} // namespace

TEST(NodeTypeInfo, NamesItselfAndWhatItLacks)
{
    NodeTypeInfo info = fakeType("stt", "whisper");
    info.actions.set("reset", CVAnyMap{{"description", "clears state"}});
    EXPECT_EQ(info.getQualifiedName(), "stt/whisper");
    EXPECT_EQ(fakeType("stt").getQualifiedName(), "stt");
    EXPECT_EQ(info.getAction("reset").get<std::string>("description"), "clears state");
    try {
        info.getAction("text");
        FAIL() << "expected std::out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Node type 'stt' declares no action 'text'");
    }
    EXPECT_THROW(info.getEvent("reset"), std::out_of_range);
}

TEST(NodeFactory, CreatesByTypeOrQualifiedName)
{
    NodeFactory factory;
    factory.registerNode(fakeType("stt", "whisper"), fakeCreator("whisper"));
    factory.registerNode(fakeType("stt", "other"), fakeCreator("other"));
    factory.registerNode(fakeType("gain"), fakeCreator("old gain"));
    NodeTypeInfo replacement = fakeType("gain");
    replacement.description = "new";
    factory.registerNode(replacement, fakeCreator("gain")); // replaces in place

    EXPECT_EQ(madeBy(factory.createNode("stt", {})), "whisper"); // first registered wins
    EXPECT_EQ(madeBy(factory.createNode("stt/other", {})), "other");
    EXPECT_EQ(madeBy(factory.createNode("gain", {})), "gain");
    EXPECT_EQ(factory.createNode("gain/x", {}), nullptr);
    EXPECT_EQ(factory.createNode("whisper", {}), nullptr);
    std::unique_ptr<corvane::Node> node(factory.createNode("gain", CVAnyMap{{"level", 3}}));
    EXPECT_EQ(dynamic_cast<FakeNode&>(*node).config, (CVAnyMap{{"level", 3}}));

    const auto types = factory.getNodeTypes();
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[2], replacement);
}
