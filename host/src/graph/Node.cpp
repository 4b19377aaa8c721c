#include <corvane/graph/Node.h>

namespace corvane {

Node::Node() = default;
Node::~Node() = default;

Result<CVAny> Node::getValue(const std::string& key)
{
    auto stored = CorvaneObject::getValue(key);
    // Every node has a display name, even before anyone set one.
    if (stored.hasError() && key == "displayName")
        return CVAny(std::string());
    return stored;
}

Result<CVAny> Node::callAction(const std::string& name, const CVAnyMap& params)
{
    return CorvaneObject::callAction(name, params);
}

} // namespace corvane
