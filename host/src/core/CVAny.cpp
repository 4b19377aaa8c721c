#include <corvane/core/CVAny.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace corvane {

namespace {

using MapPtr = std::shared_ptr<const CVAnyMap>;

// Shortest text that reads back as the same double; a trailing ".0" keeps a
// whole float recognisable as a float in messages and conversions.
std::string formatFloat(double v)
{
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v < 0 ? "-inf" : "inf";
    std::array<char, 64> text{};
    const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), v);
    std::string result = ec == std::errc{} ? std::string(text.data(), end) : std::to_string(v);
    if (result.find_first_of(".e") == std::string::npos)
        result += ".0";
    return result;
}

std::string quote(const std::string& s)
{
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (const char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::string describe(const CVAny& value)
{
    if (value.isEmpty())
        return "empty value";
    return std::string(CVAny::typeName(value.getType())) + " " + value.toString();
}

[[noreturn]] void cannotConvert(const CVAny& value, const char* target, const char* why = nullptr)
{
    std::string message = "cannot convert " + describe(value) + " to " + target;
    if (why)
        message += std::string(": ") + why;
    throw CVAnyConversionError(message);
}

[[noreturn]] void outOfRange(const CVAny& value, const char* target)
{
    throw std::out_of_range("cannot convert " + describe(value) + " to " + target + ": out of range");
}

// from_chars over the whole text: leading or trailing junk (spaces included)
// makes the text not a number at all.
template <typename T>
std::errc parseWhole(const std::string& text, T& result)
{
    if (text.empty())
        return std::errc::invalid_argument;
    const char* const first = text.data();
    const char* const last = first + text.size();
    const auto [end, ec] = std::from_chars(first, last, result);
    // Junk after the digits makes the text no number, however large they are.
    if (end != last)
        return std::errc::invalid_argument;
    return ec;
}

int integerToInt(const CVAny& source, long long v)
{
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        outOfRange(source, "int");
    return static_cast<int>(v);
}

float doubleToFloat(const CVAny& source, double v)
{
    // NaN and infinity stay what they are; only a finite value can overflow.
    if (std::isfinite(v) && std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max()))
        outOfRange(source, "float");
    return static_cast<float>(v);
}

} // namespace

CVAny::CVAny(bool v) : value(v) {}
CVAny::CVAny(const char* v) : value(std::string(v ? v : "")) {}
CVAny::CVAny(std::string v) : value(std::move(v)) {}
CVAny::CVAny(const CVAnyMap& v) : value(std::make_shared<const CVAnyMap>(v)) {}
CVAny::CVAny(CVAnyMap&& v) : value(std::make_shared<const CVAnyMap>(std::move(v))) {}

CVAny::Type CVAny::getType() const noexcept
{
    switch (value.index()) {
    case 1: return Type::Bool;
    case 2: return Type::Integer;
    case 3: return Type::Float;
    case 4: return Type::String;
    case 5: return Type::Map;
    default: return Type::Empty;
    }
}

const char* CVAny::typeName(Type type) noexcept
{
    switch (type) {
    case Type::Empty: return "empty";
    case Type::Bool: return "bool";
    case Type::Integer: return "integer";
    case Type::Float: return "float";
    case Type::String: return "string";
    case Type::Map: return "map";
    }
    return "unknown";
}

namespace {
[[noreturn]] void wrongKind(const CVAny& value, CVAny::Type wanted)
{
    throw CVAnyConversionError("CVAny: expected " + std::string(CVAny::typeName(wanted)) + ", got " + describe(value));
}
} // namespace

bool CVAny::asBool() const
{
    if (const auto* v = std::get_if<bool>(&value))
        return *v;
    wrongKind(*this, Type::Bool);
}

long long CVAny::asInteger() const
{
    if (const auto* v = std::get_if<long long>(&value))
        return *v;
    wrongKind(*this, Type::Integer);
}

double CVAny::asFloat() const
{
    if (const auto* v = std::get_if<double>(&value))
        return *v;
    wrongKind(*this, Type::Float);
}

const std::string& CVAny::asString() const
{
    if (const auto* v = std::get_if<std::string>(&value))
        return *v;
    wrongKind(*this, Type::String);
}

const CVAnyMap& CVAny::asMap() const
{
    if (const auto* v = std::get_if<MapPtr>(&value))
        return **v;
    wrongKind(*this, Type::Map);
}

std::string CVAny::toString() const
{
    switch (getType()) {
    case Type::Empty: return "null";
    case Type::Bool: return std::get<bool>(value) ? "true" : "false";
    case Type::Integer: return std::to_string(std::get<long long>(value));
    case Type::Float: return formatFloat(std::get<double>(value));
    case Type::String: return quote(std::get<std::string>(value));
    case Type::Map: {
        std::string out = "{";
        bool first = true;
        for (const auto& [key, item] : *std::get<MapPtr>(value)) {
            if (!first)
                out += ", ";
            first = false;
            out += quote(key) + ": " + item.toString();
        }
        return out + "}";
    }
    }
    return {};
}

bool CVAny::operator==(const CVAny& other) const
{
    if (value.index() != other.value.index())
        return false;
    if (const auto* map = std::get_if<MapPtr>(&value)) {
        const auto& otherMap = std::get<MapPtr>(other.value);
        return *map == otherMap || **map == *otherMap;
    }
    return value == other.value;
}

template <>
int CVAny::convert<int>(const CVAny& source)
{
    switch (source.getType()) {
    case Type::Integer:
        return integerToInt(source, source.asInteger());
    case Type::Float: {
        const double v = source.asFloat();
        if (!std::isfinite(v) || std::trunc(v) != v)
            cannotConvert(source, "int", "not a whole number");
        if (v < static_cast<double>(std::numeric_limits<int>::min()) ||
            v > static_cast<double>(std::numeric_limits<int>::max()))
            outOfRange(source, "int");
        return static_cast<int>(v);
    }
    case Type::String: {
        long long v = 0;
        const std::errc ec = parseWhole(source.asString(), v);
        if (ec == std::errc::result_out_of_range)
            outOfRange(source, "int");
        if (ec != std::errc{})
            cannotConvert(source, "int");
        return integerToInt(source, v);
    }
    default:
        cannotConvert(source, "int");
    }
}

template <>
float CVAny::convert<float>(const CVAny& source)
{
    switch (source.getType()) {
    case Type::Integer:
        // Every 64-bit integer lies well inside float's range.
        return static_cast<float>(source.asInteger());
    case Type::Float:
        return doubleToFloat(source, source.asFloat());
    case Type::String: {
        double v = 0.0;
        const std::errc ec = parseWhole(source.asString(), v);
        if (ec == std::errc::result_out_of_range)
            outOfRange(source, "float");
        // Text is a setting someone typed; "nan" or "inf" there is a mistake,
        // not a number.
        if (ec != std::errc{} || !std::isfinite(v))
            cannotConvert(source, "float");
        return doubleToFloat(source, v);
    }
    default:
        cannotConvert(source, "float");
    }
}

template <>
bool CVAny::convert<bool>(const CVAny& source)
{
    if (source.isBool())
        return source.asBool();
    if (source.isString()) {
        const std::string& text = source.asString();
        if (text == "true")
            return true;
        if (text == "false")
            return false;
    }
    cannotConvert(source, "bool");
}

template <>
std::string CVAny::convert<std::string>(const CVAny& source)
{
    switch (source.getType()) {
    case Type::String: return source.asString();
    case Type::Bool:
    case Type::Integer:
    case Type::Float: return source.toString();
    default: cannotConvert(source, "string");
    }
}

CVAnyMap::CVAnyMap(std::initializer_list<std::pair<const std::string, CVAny>> init) : entries(init) {}

bool CVAnyMap::hasKey(const std::string& key) const
{
    return entries.find(key) != entries.end();
}

CVAny CVAnyMap::at(const std::string& key) const
{
    const auto found = entries.find(key);
    if (found == entries.end())
        throw std::out_of_range("CVAnyMap: no key '" + key + "'");
    return found->second;
}

template <>
bool CVAnyMap::get<bool>(const std::string& key, std::optional<bool> defaultValue) const
{
    const auto found = entries.find(key);
    if (found == entries.end()) {
        if (defaultValue)
            return *defaultValue;
        throw std::out_of_range("CVAnyMap: no key '" + key + "'");
    }
    // Flags are strict: the string "true" in a bool setting is a caller's
    // mistake worth reporting, unlike numbers written as text.
    if (!found->second.isBool())
        throw CVAnyConversionError("CVAnyMap: value of '" + key + "' must be a bool, got " + describe(found->second));
    return found->second.asBool();
}

void CVAnyMap::set(const std::string& key, CVAny value)
{
    entries.insert_or_assign(key, std::move(value));
}

bool CVAnyMap::erase(const std::string& key)
{
    return entries.erase(key) > 0;
}

} // namespace corvane
