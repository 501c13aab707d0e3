#pragma once

// The one way fallible operations report their outcome: a value, or an Error that says
// what went wrong in words a bench engineer can act on. A caller cannot take the value of
// a failed result by accident (value() on a failure is a programming error and asserts),
// and partial data never travels as a success.

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace benchcap {

struct Error {
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error.message)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }

    const T& value() const& {
        assert(ok());
        return *value_;
    }
    T& value() & {
        assert(ok());
        return *value_;
    }
    T&& value() && {
        assert(ok());
        return std::move(*value_);
    }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }
    const T& operator*() const { return value(); }
    T& operator*() { return value(); }

    // Empty on success.
    const std::string& error() const { return error_; }

  private:
    std::optional<T> value_;
    std::string error_;
};

// Success without a value, or an Error.
template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : failed_(true), error_(std::move(error.message)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return error_; }

  private:
    bool failed_ = false;
    std::string error_;
};

using Status = Result<void>;

inline Error fail(std::string message) {
    return Error{std::move(message)};
}

// `text` as a finished sentence: a full stop is added unless it ends with one (or with "!"
// or "?") already, so a message put together from pieces never shows "..".
inline std::string endSentence(std::string text) {
    if (!text.empty() && text.back() != '.' && text.back() != '!' && text.back() != '?')
        text += '.';
    return text;
}

}  // namespace benchcap
