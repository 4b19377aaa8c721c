// CVAny and CVAnyMap on values of every kind: conversions agree with their
// documented rules, raise only the documented exception types (anything else
// escapes and ends the run as a finding), and text conversions read back what
// they wrote.

#include <cstdint>
#include <string>

#include "CVAnyDecoder.h"
#include "FuzzCheck.h"

using namespace corvane;
using corvane::fuzz::CVAnyDecoder;
using corvane::fuzz::holdsNaN;

namespace {

enum class Outcome { Value, ConversionError, OutOfRange };

/// Runs a conversion; CVAnyConversionError and std::out_of_range are the
/// documented failures, so only they are caught here.
template <typename T>
Outcome convert(const CVAny& value, T& result)
{
    try {
        result = CVAny::convert<T>(value);
        return Outcome::Value;
    } catch (const CVAnyConversionError&) {
        return Outcome::ConversionError;
    } catch (const std::out_of_range&) {
        return Outcome::OutOfRange;
    }
}

/// What convert<int> must give for text: the whole text a decimal integer
/// (an optional '-' and digits only), within int's range.
Outcome expectedIntFromText(const std::string& text, int& expected)
{
    std::size_t i = text.empty() || text[0] != '-' ? 0 : 1;
    if (i == text.size())
        return Outcome::ConversionError;
    __int128 magnitude = 0;
    bool tooLarge = false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return Outcome::ConversionError;
        if (!tooLarge)
            magnitude = magnitude * 10 + (text[i] - '0');
        tooLarge = tooLarge || magnitude > (static_cast<__int128>(1) << 64);
    }
    const __int128 signedValue = text[0] == '-' ? -magnitude : magnitude;
    if (tooLarge || signedValue < INT32_MIN || signedValue > INT32_MAX)
        return Outcome::OutOfRange;
    expected = static_cast<int>(signedValue);
    return Outcome::Value;
}

void checkInt(const CVAny& value)
{
    int result = 0;
    const Outcome outcome = convert(value, result);
    int expected = 0;
    Outcome wanted = Outcome::ConversionError;
    switch (value.getType()) {
    case CVAny::Type::Integer: {
        const long long v = value.asInteger();
        wanted = v < INT32_MIN || v > INT32_MAX ? Outcome::OutOfRange : Outcome::Value;
        expected = static_cast<int>(v);
        break;
    }
    case CVAny::Type::Float: {
        const double v = value.asFloat();
        if (!std::isfinite(v) || std::trunc(v) != v)
            wanted = Outcome::ConversionError;
        else if (v < INT32_MIN || v > INT32_MAX)
            wanted = Outcome::OutOfRange;
        else {
            wanted = Outcome::Value;
            expected = static_cast<int>(v);
        }
        break;
    }
    case CVAny::Type::String: wanted = expectedIntFromText(value.asString(), expected); break;
    default: break;
    }
    const std::string about = value.toString() + " -> int";
    FUZZ_CHECK_ABOUT(outcome == wanted, about);
    FUZZ_CHECK_ABOUT(outcome != Outcome::Value || result == expected, about);
}

void checkFloat(const CVAny& value)
{
    float result = 0.0f;
    const Outcome outcome = convert(value, result);
    switch (value.getType()) {
    case CVAny::Type::Integer:
        FUZZ_CHECK(outcome == Outcome::Value && result == static_cast<float>(value.asInteger()));
        break;
    case CVAny::Type::Float: {
        const double v = value.asFloat();
        if (std::isfinite(v) && std::fabs(v) > FLT_MAX) {
            FUZZ_CHECK(outcome == Outcome::OutOfRange);
        } else {
            FUZZ_CHECK(outcome == Outcome::Value);
            FUZZ_CHECK(std::isnan(v) ? std::isnan(result) : result == static_cast<float>(v));
        }
        break;
    }
    case CVAny::Type::String:
        // Text never gives NaN or an infinity.
        FUZZ_CHECK(outcome != Outcome::Value || (std::isfinite(result) && std::fabs(result) <= FLT_MAX));
        break;
    default: FUZZ_CHECK(outcome == Outcome::ConversionError); break;
    }
}

void checkBool(const CVAny& value)
{
    bool result = false;
    const Outcome outcome = convert(value, result);
    if (value.isBool()) {
        FUZZ_CHECK(outcome == Outcome::Value && result == value.asBool());
    } else if (value.isString() && (value.asString() == "true" || value.asString() == "false")) {
        FUZZ_CHECK(outcome == Outcome::Value && result == (value.asString() == "true"));
    } else {
        FUZZ_CHECK(outcome == Outcome::ConversionError);
    }
}

void checkString(const CVAny& value)
{
    std::string result;
    const Outcome outcome = convert(value, result);
    switch (value.getType()) {
    case CVAny::Type::String: FUZZ_CHECK(outcome == Outcome::Value && result == value.asString()); break;
    case CVAny::Type::Bool:
        FUZZ_CHECK(outcome == Outcome::Value && result == (value.asBool() ? "true" : "false"));
        FUZZ_CHECK(CVAny::convert<bool>(CVAny(result)) == value.asBool());
        break;
    case CVAny::Type::Integer: {
        FUZZ_CHECK(outcome == Outcome::Value && result == std::to_string(value.asInteger()));
        // Written as text, an integer converts as it did before.
        int direct = 0;
        int viaText = 0;
        const Outcome directOutcome = convert(value, direct);
        FUZZ_CHECK(convert(CVAny(result), viaText) == directOutcome);
        FUZZ_CHECK(directOutcome != Outcome::Value || viaText == direct);
        break;
    }
    case CVAny::Type::Float: {
        FUZZ_CHECK(outcome == Outcome::Value && result == value.toString());
        const double v = value.asFloat();
        // Normal and zero values read back exactly (subnormals may underflow
        // in the text reader).
        if (std::isfinite(v) && (v == 0.0 || std::fabs(v) >= DBL_MIN)) {
            float viaText = 0.0f;
            const Outcome textOutcome = convert(CVAny(result), viaText);
            if (std::fabs(v) > FLT_MAX) {
                FUZZ_CHECK(textOutcome == Outcome::OutOfRange);
            } else {
                FUZZ_CHECK(textOutcome == Outcome::Value && viaText == static_cast<float>(v));
            }
        }
        break;
    }
    default: FUZZ_CHECK(outcome == Outcome::ConversionError); break;
    }
}

/// Exactly the accessor of the value's own kind answers; the others raise.
void checkAccessors(const CVAny& value)
{
    int answered = 0;
    auto attempt = [&](auto accessor) {
        try {
            accessor();
            ++answered;
        } catch (const CVAnyConversionError&) {
        }
    };
    attempt([&] { (void)value.asBool(); });
    attempt([&] { (void)value.asInteger(); });
    attempt([&] { (void)value.asFloat(); });
    attempt([&] { (void)value.asString(); });
    attempt([&] { (void)value.asMap(); });
    FUZZ_CHECK(answered == (value.isEmpty() ? 0 : 1));
    FUZZ_CHECK(value.isEmpty() + value.isBool() + value.isInteger() + value.isFloat() + value.isString() +
                   value.isMap() == 1);
}

void checkValue(const CVAny& value)
{
    checkAccessors(value);
    checkInt(value);
    checkFloat(value);
    checkBool(value);
    checkString(value);
    const std::string text = value.toString();
    FUZZ_CHECK(!text.empty());
    FUZZ_CHECK(std::string(CVAny::typeName(value.getType())) != "unknown");
    const CVAny copy = value;
    if (!holdsNaN(value))
        FUZZ_CHECK(copy == value && value == value);
    if (value.isMap()) {
        for (const auto& [key, item] : value.asMap())
            checkValue(item);
    }
}

void checkMap(CVAnyDecoder& decoder, FuzzedDataProvider& data)
{
    CVAnyMap map = decoder.map(1, {"a", "b", "flag", ""});
    const CVAnyMap original = map;
    for (int round = 0; round < 4 && data.remaining_bytes() > 0; ++round) {
        const std::string key = decoder.key({"a", "b", "flag", ""});
        const bool present = map.hasKey(key);

        bool atAnswered = true;
        try {
            (void)map.at(key);
        } catch (const std::out_of_range&) {
            atAnswered = false;
        }
        FUZZ_CHECK(atAnswered == present);

        // get<bool> is strict: only a bool answers; an absent key takes the
        // default or raises std::out_of_range.
        try {
            const bool flag = map.get<bool>(key, std::optional<bool>(true));
            FUZZ_CHECK(!present ? flag : map.at(key).isBool() && flag == map.at(key).asBool());
        } catch (const std::invalid_argument&) {
            FUZZ_CHECK(present && !map.at(key).isBool());
        }
        try {
            (void)map.get<bool>(key);
            FUZZ_CHECK(present);
        } catch (const std::invalid_argument&) {
            FUZZ_CHECK(present);
        } catch (const std::out_of_range&) {
            FUZZ_CHECK(!present);
        }
        try {
            const int number = map.get<int>(key, std::optional<int>(-7));
            FUZZ_CHECK(present || number == -7);
        } catch (const CVAnyConversionError&) {
            FUZZ_CHECK(present);
        } catch (const std::out_of_range&) {
            FUZZ_CHECK(present);
        }

        const std::size_t size = map.size();
        if (data.ConsumeBool()) {
            const CVAny value = decoder.value(1);
            map.set(key, value);
            FUZZ_CHECK(map.size() == size + (present ? 0 : 1));
            if (!holdsNaN(value))
                FUZZ_CHECK(map.at(key) == value);
        } else {
            FUZZ_CHECK(map.erase(key) == present);
            FUZZ_CHECK(!map.hasKey(key) && map.size() == size - (present ? 1 : 0));
        }
    }
    // Maps are values: changing one leaves the map it was copied from alone.
    const CVAny wrapped(original);
    FUZZ_CHECK(wrapped.asMap().size() == original.size());
    if (!holdsNaN(wrapped))
        FUZZ_CHECK(wrapped.asMap() == original);
    checkValue(CVAny(map));
}

void checkUnsigned(FuzzedDataProvider& data)
{
    const auto v = data.ConsumeIntegral<unsigned long long>();
    try {
        const CVAny value(v);
        FUZZ_CHECK(v <= static_cast<unsigned long long>(INT64_MAX) && value.asInteger() == static_cast<long long>(v));
    } catch (const std::out_of_range&) {
        FUZZ_CHECK(v > static_cast<unsigned long long>(INT64_MAX));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    CVAnyDecoder decoder(data);
    switch (data.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: checkValue(decoder.value()); break;
    case 1: checkMap(decoder, data); break;
    default: checkUnsigned(data); break;
    }
    return 0;
}
