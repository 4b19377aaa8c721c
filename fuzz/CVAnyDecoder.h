#pragma once

#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include <corvane/core/CVAny.h>

namespace corvane::fuzz {

/// Builds CVAny values of every kind from fuzzer bytes, leaning on the values
/// each kind finds hardest: integers at the edges of int and long long, NaN,
/// infinities and floats beyond float's range, numbers and flags written as
/// text, and maps inside maps.
class CVAnyDecoder {
public:
    static constexpr int kDeepest = 4;

    explicit CVAnyDecoder(FuzzedDataProvider& data) : data(data) {}

    CVAny value(int depth = 0)
    {
        switch (data.ConsumeIntegralInRange<int>(0, depth < kDeepest ? 5 : 4)) {
        case 0: return CVAny();
        case 1: return CVAny(data.ConsumeBool());
        case 2: return CVAny(integer());
        case 3: return CVAny(floating());
        case 4: return CVAny(text());
        default: return CVAny(map(depth + 1, {}));
        }
    }

    /// Up to eight entries; keys come from `preferredKeys` half of the time.
    CVAnyMap map(int depth, const std::vector<std::string>& preferredKeys)
    {
        CVAnyMap result;
        const int entries = data.ConsumeIntegralInRange<int>(0, 8);
        for (int i = 0; i < entries && data.remaining_bytes() > 0; ++i)
            result.set(key(preferredKeys), value(depth));
        return result;
    }

    std::string key(const std::vector<std::string>& preferredKeys)
    {
        if (!preferredKeys.empty() && data.ConsumeBool())
            return preferredKeys[data.ConsumeIntegralInRange<std::size_t>(0, preferredKeys.size() - 1)];
        return data.ConsumeRandomLengthString(16);
    }

    long long integer()
    {
        static constexpr std::array<long long, 10> edges{
            0, 1, -1,
            std::numeric_limits<int>::max(), std::numeric_limits<int>::min(),
            static_cast<long long>(std::numeric_limits<int>::max()) + 1,
            static_cast<long long>(std::numeric_limits<int>::min()) - 1,
            std::numeric_limits<long long>::max(), std::numeric_limits<long long>::min(), 16000};
        if (data.ConsumeBool())
            return edges[data.ConsumeIntegralInRange<std::size_t>(0, edges.size() - 1)];
        return data.ConsumeIntegral<long long>();
    }

    double floating()
    {
        static const std::array<double, 14> edges{
            0.0, -0.0, 0.5, -1.5, 2147483647.0, 2147483648.0, -2147483648.0, -2147483649.0,
            static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX) * 2.0, 4.9e-324,
            std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity()};
        if (data.ConsumeBool())
            return edges[data.ConsumeIntegralInRange<std::size_t>(0, edges.size() - 1)];
        return data.ConsumeFloatingPoint<double>();
    }

    std::string text()
    {
        static const std::array<const char*, 16> edges{
            "true", "false", "True", "1", "-1", "+1", " 1", "2147483648", "-2147483649",
            "99999999999999999999", "1e39", "1e-400", "nan", "inf", "0x10", ""};
        if (data.ConsumeBool())
            return edges[data.ConsumeIntegralInRange<std::size_t>(0, edges.size() - 1)];
        return data.ConsumeRandomLengthString(48);
    }

private:
    FuzzedDataProvider& data;
};

/// True when a NaN sits anywhere in the value; NaN is unequal to itself, so
/// such values are not equal to their own copies.
inline bool holdsNaN(const CVAny& value)
{
    if (value.isFloat())
        return std::isnan(value.asFloat());
    if (value.isMap()) {
        for (const auto& [key, item] : value.asMap())
            if (holdsNaN(item))
                return true;
    }
    return false;
}

} // namespace corvane::fuzz
