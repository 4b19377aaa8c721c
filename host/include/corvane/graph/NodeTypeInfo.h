#pragma once

#include <string>
#include <vector>

#include <corvane/core/CVAny.h>
#include <corvane/core/CorvaneExport.h>

namespace corvane {

/// Self-description of a node type: its names and texts, and its actions and
/// events as description maps keyed by name.
struct CORVANE_API NodeTypeInfo {
    std::string type;
    std::string subtype;
    std::string displayName;
    std::string description;
    std::vector<std::string> categories;
    CVAnyMap configuration;
    CVAnyMap properties;
    CVAnyMap actions;
    CVAnyMap events;

    /// The description map of one action or event; raises std::out_of_range
    /// naming it when the type declares no such action or event.
    CVAnyMap getAction(const std::string& name) const;
    CVAnyMap getEvent(const std::string& name) const;

    /// "type/subtype", or just the type when there is no subtype.
    std::string getQualifiedName() const;

    bool operator==(const NodeTypeInfo&) const = default;
};

} // namespace corvane
