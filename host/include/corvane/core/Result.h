#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace corvane {

/// The error record of a failed operation: one message.
class Error {
public:
    explicit Error(std::string message) : message(std::move(message)) {}
    const std::string& getMessage() const noexcept { return message; }
    bool operator==(const Error&) const = default;

private:
    std::string message;
};

/// A value of T or an Error.
template <typename T>
class Result {
public:
    Result(T value) : content(std::move(value)) {}
    Result(Error error) : content(std::move(error)) {}

    bool isOk() const noexcept { return content.index() == 0; }
    bool hasError() const noexcept { return !isOk(); }
    explicit operator bool() const noexcept { return isOk(); }

    /// Raises std::logic_error (with the error's message) on an error result.
    const T& getValue() const
    {
        if (!isOk())
            throw std::logic_error("Result holds an error: " + std::get<1>(content).getMessage());
        return std::get<0>(content);
    }
    /// Raises std::logic_error on a value result.
    const Error& getError() const
    {
        if (isOk())
            throw std::logic_error("Result holds a value, not an error");
        return std::get<1>(content);
    }

private:
    std::variant<T, Error> content;
};

template <>
class Result<void> {
public:
    Result() = default;
    Result(Error error) : error(std::move(error)) {}

    bool isOk() const noexcept { return !error.has_value(); }
    bool hasError() const noexcept { return error.has_value(); }
    explicit operator bool() const noexcept { return isOk(); }

    const Error& getError() const
    {
        if (!error)
            throw std::logic_error("Result holds no error");
        return *error;
    }

private:
    std::optional<Error> error;
};

} // namespace corvane
