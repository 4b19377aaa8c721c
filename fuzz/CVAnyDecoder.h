#pragma once

#include <cfloat>
#include <climits>
#include <cmath>

#include <fuzzer/FuzzedDataProvider.h>

#include <corvane/core/CVAny.h>

namespace corvane::fuzz {

/// Builds CVAny values of every kind from fuzzer bytes, half of the time from the values each kind finds hardest:
/// integers at the edges of int and long long, NaN, infinities and floats beyond float's range, numbers and flags
/// written as text, and maps inside maps.
struct CVAnyDecoder {
    FuzzedDataProvider& data;

    CVAny value(int depth = 0)
    {
        switch (data.ConsumeIntegralInRange<int>(0, depth < 4 ? 5 : 4)) {
        case 0: return CVAny();
        case 1: return CVAny(data.ConsumeBool());
        case 2: return edgeOr<long long>({0, 1, -1, INT_MAX, INT_MIN, INT_MAX + 1LL, INT_MIN - 1LL, LLONG_MAX, LLONG_MIN, 16000},
                                         [&] { return data.ConsumeIntegral<long long>(); });
        case 3: return edgeOr<double>({0.0, -0.0, 0.5, -1.5, 2147483647.0, 2147483648.0, -2147483648.0, -2147483649.0, FLT_MAX,
                                       FLT_MAX * 2.0, 4.9e-324, NAN, INFINITY, -INFINITY},
                                      [&] { return data.ConsumeFloatingPoint<double>(); });
        case 4: return edgeOr<std::string>({"true", "false", "True", "1", "-1", "+1", " 1", "2147483648", "-2147483649",
                                            "99999999999999999999", "1e39", "1e-400", "nan", "inf", "0x10", ""},
                                           [&] { return data.ConsumeRandomLengthString(48); });
        default: return map(depth + 1, {});
        }
    }

    /// Up to eight entries; keys come from `preferred` half of the time.
    CVAnyMap map(int depth, const std::vector<std::string>& preferred)
    {
        CVAnyMap result;
        for (int entries = data.ConsumeIntegralInRange<int>(0, 8); entries > 0 && data.remaining_bytes() > 0; --entries) {
            const std::string name = key(preferred);
            result.set(name, value(depth));
        }
        return result;
    }

    std::string key(const std::vector<std::string>& preferred)
    {
        const bool pick = !preferred.empty() && data.ConsumeBool();
        return pick ? preferred[data.ConsumeIntegralInRange<std::size_t>(0, preferred.size() - 1)] : data.ConsumeRandomLengthString(16);
    }

    template <typename T> CVAny edgeOr(std::initializer_list<T> edges, auto fresh)
    {
        return data.ConsumeBool() ? CVAny(edges.begin()[data.ConsumeIntegralInRange<std::size_t>(0, edges.size() - 1)]) : CVAny(fresh());
    }
};

/// NaN is unequal to itself, so a value holding one anywhere is not equal to its own copies.
inline bool holdsNaN(const CVAny& value)
{
    bool nan = value.isFloat() && std::isnan(value.asFloat());
    for (const auto& [key, item] : value.isMap() ? value.asMap() : CVAnyMap())
        nan = nan || holdsNaN(item);
    return nan;
}

} // namespace corvane::fuzz
