#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <corvane/core/CVAny.h>
#include <corvane/core/CorvaneExport.h>
#include <corvane/graph/Node.h>
#include <corvane/graph/NodeTypeInfo.h>

namespace corvane {

/// Knows how to make the node types of one extension.
/// Threading: all methods may be called from any thread; creators run outside
/// the factory's lock.
class CORVANE_API NodeFactory {
public:
    /// Builds a node from its configuration; the caller owns the result.
    using NodeCreator = std::function<Node*(const CVAnyMap& config)>;

    NodeFactory();
    virtual ~NodeFactory();

    NodeFactory(const NodeFactory&) = delete;
    NodeFactory& operator=(const NodeFactory&) = delete;

    virtual std::string getName();
    /// Copies of the registered descriptions, in registration order.
    virtual std::vector<NodeTypeInfo> getNodeTypes();
    /// Makes a node of the type whose `type` or qualified "type/subtype"
    /// equals typeName. Returns null when this factory has no such type;
    /// whatever the creator raises reaches the caller.
    virtual Node* createNode(const std::string& typeName, const CVAnyMap& config);

    /// Keeps a copy of the description. A type registered again replaces the
    /// earlier registration.
    void registerNode(const NodeTypeInfo& info, NodeCreator creator);

private:
    struct Registry;
    std::unique_ptr<Registry> registry;
};

} // namespace corvane
