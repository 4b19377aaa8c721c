#include "NodeDescription.h"

namespace corvane::cli {

nlohmann::ordered_json toJson(const CVAny& value)
{
    switch (value.getType()) {
    case CVAny::Type::Empty:
        return nullptr;
    case CVAny::Type::Bool:
        return value.asBool();
    case CVAny::Type::Integer:
        return value.asInteger();
    case CVAny::Type::Float:
        return value.asFloat();
    case CVAny::Type::String:
        return value.asString();
    case CVAny::Type::Map:
        return toJson(value.asMap());
    }
    return nullptr;
}

nlohmann::ordered_json toJson(const CVAnyMap& map)
{
    // An empty map is still an object, never null.
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& [key, value] : map)
        object[key] = toJson(value);
    return object;
}

nlohmann::ordered_json toJson(const NodeTypeInfo& info)
{
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["type"] = info.type;
    object["subtype"] = info.subtype;
    object["displayName"] = info.displayName;
    object["description"] = info.description;
    object["categories"] = info.categories;
    object["configuration"] = toJson(info.configuration);
    object["properties"] = toJson(info.properties);
    object["actions"] = toJson(info.actions);
    object["events"] = toJson(info.events);
    return object;
}

nlohmann::ordered_json describeNodeTypes(const std::vector<NodeTypeInfo>& types)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const NodeTypeInfo& info : types)
        array.push_back(toJson(info));
    return array;
}

} // namespace corvane::cli
