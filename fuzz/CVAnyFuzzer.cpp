// CVAny and CVAnyMap on values of every kind: conversions follow their documented rules and raise only the
// documented exception types (anything else escapes and ends the run as a finding); text reads back what it wrote.

#include "CVAnyDecoder.h"
#include "FuzzCheck.h"

using namespace corvane;
using fuzz::holdsNaN;

namespace {

enum class Outcome { Value, ConversionError, OtherInvalidArgument, OutOfRange };

Outcome outcomeOf(auto action)
{
    try {
        return action(), Outcome::Value;
    } catch (const CVAnyConversionError&) {
        return Outcome::ConversionError;
    } catch (const std::invalid_argument&) {
        return Outcome::OtherInvalidArgument;
    } catch (const std::out_of_range&) {
        return Outcome::OutOfRange;
    }
}

template <typename T> Outcome convert(const CVAny& value, T& result)
{
    return outcomeOf([&] { result = CVAny::convert<T>(value); });
}

/// What convert<int> must give: integers and whole finite floats in int's range, and text that is entirely a
/// decimal integer (an optional '-' and digits) in range.
Outcome expectedInt(const CVAny& value, int& expected)
{
    const std::string text = value.isString() ? value.asString() : "";
    const std::size_t sign = text.starts_with('-') ? 1 : 0;
    const double v = value.isFloat() ? value.asFloat() : 0;
    __int128 number = 0;
    if (value.isInteger())
        number = value.asInteger();
    else if (value.isFloat() && std::isfinite(v) && std::trunc(v) == v)
        number = std::fabs(v) < 1e30 ? static_cast<__int128>(v) : static_cast<__int128>(1) << 100;
    else if (!value.isString() || text.size() == sign || text.find_first_not_of("0123456789", sign) != std::string::npos)
        return Outcome::ConversionError;
    for (std::size_t i = sign; i < text.size(); ++i)
        number = std::min(number * 10 + (text[i] - '0'), static_cast<__int128>(1) << 64);
    number = sign == 1 ? -number : number;
    if (number < INT32_MIN || number > INT32_MAX)
        return Outcome::OutOfRange;
    return expected = static_cast<int>(number), Outcome::Value;
}

void checkValue(const CVAny& value)
{
    int integer = 0, expectedInteger = 0;
    const Outcome intOutcome = expectedInt(value, expectedInteger);
    FUZZ_CHECK(convert(value, integer) == intOutcome && (intOutcome != Outcome::Value || integer == expectedInteger));

    // float: from an integer, or a float (finite beyond float's range is out of it); text never gives NaN or infinity
    float real = 0;
    const Outcome realOutcome = convert(value, real);
    const double v = value.isFloat() ? value.asFloat() : 0;
    if (value.isInteger())
        FUZZ_CHECK(realOutcome == Outcome::Value && real == static_cast<float>(value.asInteger()));
    else if (value.isFloat())
        FUZZ_CHECK(std::isfinite(v) && std::fabs(v) > FLT_MAX ? realOutcome == Outcome::OutOfRange
                                                               : realOutcome == Outcome::Value &&
                                                                     (std::isnan(v) ? std::isnan(real) : real == static_cast<float>(v)));
    else
        FUZZ_CHECK(value.isString() ? realOutcome != Outcome::Value || std::isfinite(real) : realOutcome == Outcome::ConversionError);

    bool flag = false;
    const bool flagText = value.isString() && (value.asString() == "true" || value.asString() == "false");
    const Outcome flagOutcome = convert(value, flag);
    FUZZ_CHECK(value.isBool() || flagText
                   ? flagOutcome == Outcome::Value && flag == (flagText ? value.asString() == "true" : value.asBool())
                   : flagOutcome == Outcome::ConversionError);

    // Text: the string itself, or the text of a bool, integer or float, which converts back as the value did (floats
    // when normal or zero: subnormals may underflow in the text reader).
    std::string text;
    FUZZ_CHECK(convert(value, text) == (value.isEmpty() || value.isMap() ? Outcome::ConversionError : Outcome::Value));
    int intViaText = 0;
    float realViaText = 0;
    FUZZ_CHECK(!value.isString() || text == value.asString());
    FUZZ_CHECK(!value.isBool() || (text == (value.asBool() ? "true" : "false") && CVAny::convert<bool>(CVAny(text)) == value.asBool()));
    FUZZ_CHECK(!value.isInteger() || (text == std::to_string(value.asInteger()) && convert(CVAny(text), intViaText) == intOutcome &&
                                      (intOutcome != Outcome::Value || intViaText == integer)));
    FUZZ_CHECK(!value.isFloat() || (text == value.toString() && (!std::isfinite(v) || (v != 0 && std::fabs(v) < DBL_MIN) ||
                                                                 (convert(CVAny(text), realViaText) == realOutcome && realViaText == real))));
    const CVAny copy = value;
    FUZZ_CHECK(!value.toString().empty() && (holdsNaN(value) || (copy == value && value == value)));
    if (value.isMap())
        for (const auto& [key, item] : value.asMap())
            checkValue(item);
}

void checkMap(fuzz::CVAnyDecoder& decoder, FuzzedDataProvider& data)
{
    const std::vector<std::string> keys{"a", "b", "flag", ""};
    CVAnyMap map = decoder.map(1, keys);
    const CVAnyMap original = map;
    for (int round = 0; round < 4 && data.remaining_bytes() > 0; ++round) {
        const std::string key = decoder.key(keys);
        const bool present = map.hasKey(key), isBool = present && map.at(key).isBool();
        const Outcome lookup = present ? Outcome::Value : Outcome::OutOfRange;
        FUZZ_CHECK(outcomeOf([&] { (void)map.at(key); }) == lookup);
        // get<bool> is strict: only a bool answers; an absent key takes the default or raises std::out_of_range.
        const Outcome flag = outcomeOf([&] { FUZZ_CHECK(map.get<bool>(key, true) == (!isBool || map.at(key).asBool())); });
        FUZZ_CHECK(present && !isBool ? flag != Outcome::Value && flag != Outcome::OutOfRange
                                      : flag == Outcome::Value && outcomeOf([&] { (void)map.get<bool>(key); }) == lookup);
        const std::size_t size = map.size();
        if (data.ConsumeBool()) {
            const CVAny value = decoder.value(1);
            map.set(key, value);
            FUZZ_CHECK(map.size() == size + !present && (holdsNaN(value) || map.at(key) == value));
        } else {
            FUZZ_CHECK(map.erase(key) == present && !map.hasKey(key) && map.size() == size - present);
        }
    }
    // Maps are values: changing one leaves the map it was copied from alone.
    const CVAny wrapped(original);
    FUZZ_CHECK(wrapped.asMap().size() == original.size() && (holdsNaN(wrapped) || wrapped.asMap() == original));
    checkValue(CVAny(map));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    fuzz::CVAnyDecoder decoder{data};
    switch (data.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return checkValue(decoder.value()), 0;
    case 1: return checkMap(decoder, data), 0;
    }
    // Unsigned values beyond long long raise std::out_of_range.
    const auto v = data.ConsumeIntegral<unsigned long long>();
    FUZZ_CHECK(outcomeOf([&] { FUZZ_CHECK(CVAny(v).asInteger() == static_cast<long long>(v)); }) ==
               (v <= INT64_MAX ? Outcome::Value : Outcome::OutOfRange));
    return 0;
}
