#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include <corvane/core/CVAny.h>
#include <corvane/graph/NodeTypeInfo.h>

namespace corvane::cli {

/// CVAny as JSON: a map becomes an object with the map's (ascending) key
/// order, empty becomes null, the rest their JSON counterparts.
nlohmann::ordered_json toJson(const CVAny& value);
nlohmann::ordered_json toJson(const CVAnyMap& map);

/// Every field of a node type, in declaration order: type, subtype,
/// displayName, description, categories, configuration, properties, actions,
/// events.
nlohmann::ordered_json toJson(const NodeTypeInfo& info);

/// A JSON array of node types.
nlohmann::ordered_json describeNodeTypes(const std::vector<NodeTypeInfo>& types);

} // namespace corvane::cli
