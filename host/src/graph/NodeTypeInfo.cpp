#include <corvane/graph/NodeTypeInfo.h>

#include <stdexcept>

namespace corvane {

namespace {
CVAnyMap describedEntry(const NodeTypeInfo& info, const CVAnyMap& entries, const char* kind, const std::string& name)
{
    if (!entries.hasKey(name))
        throw std::out_of_range("Node type '" + info.type + "' declares no " + kind + " '" + name + "'");
    return entries.at(name).asMap();
}
} // namespace

CVAnyMap NodeTypeInfo::getAction(const std::string& name) const
{
    return describedEntry(*this, actions, "action", name);
}

CVAnyMap NodeTypeInfo::getEvent(const std::string& name) const
{
    return describedEntry(*this, events, "event", name);
}

std::string NodeTypeInfo::getQualifiedName() const
{
    return subtype.empty() ? type : type + "/" + subtype;
}

} // namespace corvane
