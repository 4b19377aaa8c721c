#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::modelimport {

/// The storage of an imported model's weight matrices.
enum class WeightType { F32, F16, Q8_0, Q5_1, Q5_0, Q4_0 };

/// "f16" → WeightType::F16 and so on; nothing for an unknown name.
std::optional<WeightType> parseWeightType(std::string_view name);

std::string weightTypeName(WeightType type);

/// The names parseWeightType() accepts, for help texts.
std::string weightTypeNames();

} // namespace corvane::modelimport
