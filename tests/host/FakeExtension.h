#pragma once

#include <corvane/extensions/Extension.h>
#include <corvane/graph/NodeFactory.h>

#include <memory>
#include <string>

// A node that remembers which registration made it and with what config.
struct FakeNode : corvane::Node {
    FakeNode(std::string madeBy, corvane::CVAnyMap config) : madeBy(std::move(madeBy)), config(std::move(config)) {}
    const std::string madeBy;
    const corvane::CVAnyMap config;
};

inline corvane::NodeTypeInfo fakeType(const std::string& type, const std::string& subtype = {})
{
    corvane::NodeTypeInfo info;
    info.type = type;
    info.subtype = subtype;
    return info;
}

inline corvane::NodeFactory::NodeCreator fakeCreator(const std::string& tag)
{
    return [tag](const corvane::CVAnyMap& config) -> corvane::Node* { return new FakeNode(tag, config); };
}

struct FakeExtension : corvane::Extension {
    explicit FakeExtension(std::string name) : name(std::move(name)) {}
    std::string getName() override { return name; }
    std::string getDescription() override { return {}; }
    std::shared_ptr<corvane::NodeFactory> getNodeFactory() override { return factory; }

    const std::string name;
    const std::shared_ptr<corvane::NodeFactory> factory = std::make_shared<corvane::NodeFactory>();
};
