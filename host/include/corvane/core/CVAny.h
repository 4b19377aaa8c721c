#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

#include <corvane/core/CorvaneExport.h>

namespace corvane {

class CVAnyMap;

/// Raised by CVAny::convert when a value cannot become the requested type.
/// Values that have the right kind but do not fit (an integer too large for
/// int) raise std::out_of_range instead.
class CORVANE_API CVAnyConversionError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

/// The host's dynamically typed value: empty, bool, integer (64-bit), float
/// (double), string or map. Values are immutable once made; copies of a map
/// value share its storage.
class CORVANE_API CVAny {
public:
    enum class Type { Empty, Bool, Integer, Float, String, Map };

    CVAny() = default;
    CVAny(bool value);
    CVAny(const char* value);
    CVAny(std::string value);
    CVAny(const CVAnyMap& value);
    CVAny(CVAnyMap&& value);

    /// Any integer type except bool. Unsigned values above the largest
    /// long long raise std::out_of_range.
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    CVAny(T value) : value(toInteger(value)) {}

    template <std::floating_point T>
    CVAny(T value) : value(static_cast<double>(value)) {}

    Type getType() const noexcept;
    bool isEmpty() const noexcept { return getType() == Type::Empty; }
    bool isBool() const noexcept { return getType() == Type::Bool; }
    bool isInteger() const noexcept { return getType() == Type::Integer; }
    bool isFloat() const noexcept { return getType() == Type::Float; }
    bool isString() const noexcept { return getType() == Type::String; }
    bool isMap() const noexcept { return getType() == Type::Map; }

    /// Strict accessors: each raises CVAnyConversionError unless the value
    /// holds exactly that kind.
    bool asBool() const;
    long long asInteger() const;
    double asFloat() const;
    const std::string& asString() const;
    const CVAnyMap& asMap() const;

    /// Converts a value to T, for T in int, float, bool and std::string:
    /// - int: from an integer in range, a float holding a whole number in
    ///   range, or a string that is entirely a decimal integer in range;
    /// - float: from a float or integer (finite, within float's range), or a
    ///   string that is entirely a number;
    /// - bool: from a bool, or the strings "true" and "false";
    /// - std::string: from a string, or the text of a bool, integer or float.
    /// Anything else raises CVAnyConversionError naming both types; a value out
    /// of T's range raises std::out_of_range.
    template <typename T>
    static T convert(const CVAny& value);

    /// Name of a type as used in messages: "empty", "bool", "integer", ...
    static const char* typeName(Type type) noexcept;

    /// A short human-readable rendering, for messages and logs.
    std::string toString() const;

    bool operator==(const CVAny& other) const;

private:
    template <typename T>
    static long long toInteger(T v)
    {
        if constexpr (std::unsigned_integral<T>) {
            if (v > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
                throw std::out_of_range("CVAny: unsigned value too large for an integer");
        }
        return static_cast<long long>(v);
    }

    std::variant<std::monostate, bool, long long, double, std::string, std::shared_ptr<const CVAnyMap>> value;
};

template <> CORVANE_API int CVAny::convert<int>(const CVAny& value);
template <> CORVANE_API float CVAny::convert<float>(const CVAny& value);
template <> CORVANE_API bool CVAny::convert<bool>(const CVAny& value);
template <> CORVANE_API std::string CVAny::convert<std::string>(const CVAny& value);

/// String-keyed map of CVAny, iterated in ascending key order.
class CORVANE_API CVAnyMap {
public:
    using Storage = std::map<std::string, CVAny>;
    using const_iterator = Storage::const_iterator;

    CVAnyMap() = default;
    CVAnyMap(std::initializer_list<std::pair<const std::string, CVAny>> entries);

    bool hasKey(const std::string& key) const;
    /// A copy of the value; raises std::out_of_range naming the key if absent.
    CVAny at(const std::string& key) const;

    /// The value converted to T (CVAny::convert), or defaultValue when the key
    /// is absent; absent without a default raises std::out_of_range.
    /// get<bool> is strict: a present value that is not a bool raises
    /// std::invalid_argument.
    template <typename T>
    T get(const std::string& key, std::optional<T> defaultValue = std::nullopt) const;

    /// Inserts or replaces.
    void set(const std::string& key, CVAny value);
    bool erase(const std::string& key);

    std::size_t size() const noexcept { return entries.size(); }
    bool empty() const noexcept { return entries.empty(); }
    const_iterator begin() const noexcept { return entries.begin(); }
    const_iterator end() const noexcept { return entries.end(); }

    bool operator==(const CVAnyMap& other) const { return entries == other.entries; }

private:
    Storage entries;
};

template <> CORVANE_API bool CVAnyMap::get<bool>(const std::string& key, std::optional<bool> defaultValue) const;

template <typename T>
T CVAnyMap::get(const std::string& key, std::optional<T> defaultValue) const
{
    const auto found = entries.find(key);
    if (found == entries.end()) {
        if (defaultValue)
            return *defaultValue;
        throw std::out_of_range("CVAnyMap: no key '" + key + "'");
    }
    return CVAny::convert<T>(found->second);
}

} // namespace corvane
