#include "WeightType.h"

#include <array>
#include <utility>

namespace corvane::modelimport {
namespace {
constexpr std::array<std::pair<WeightType, std::string_view>, 6> names{{
    {WeightType::F16, "f16"},
    {WeightType::F32, "f32"},
    {WeightType::Q8_0, "q8_0"},
    {WeightType::Q5_1, "q5_1"},
    {WeightType::Q5_0, "q5_0"},
    {WeightType::Q4_0, "q4_0"},
}};
} // namespace

std::optional<WeightType> parseWeightType(std::string_view name)
{
    for (const auto& [type, typeName] : names)
        if (typeName == name)
            return type;
    return std::nullopt;
}

std::string weightTypeName(WeightType type)
{
    for (const auto& [candidate, typeName] : names)
        if (candidate == type)
            return std::string(typeName);
    return "?";
}

std::string weightTypeNames()
{
    std::string text;
    for (const auto& entry : names)
        text += (text.empty() ? "" : "|") + std::string(entry.second);
    return text;
}

} // namespace corvane::modelimport
