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

// What kind of failure it is, for the callers that act on it: a stop ends a job, a time-out
// lets a schedule go on. Decisions go by kind; the message is for people.
enum class ErrorKind {
    Other,
    Interrupted,   // a stop request (Stop, a termination signal) ended it
    TimedOut,      // the instrument or interface did not answer in time
    NotReachable,  // the interface, adapter or gateway cannot be reached
    BusError,      // the driver reported a failure of the bus
    BadData,       // what came is not what it should be
    File,          // a file could not be read or written
    Refused,       // refused before anything was done, or by the other side (a protected sheet)
    Declined,      // the user answered "No" to going on
    Usage,         // the request itself is wrong
};

struct Error {
    std::string message;
    ErrorKind kind = ErrorKind::Other;
};

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}

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
    const std::string& error() const { return error_.message; }
    ErrorKind errorKind() const { return error_.kind; }
    // The failure as it is, kind and all, for passing on.
    const Error& failure() const { return error_; }

  private:
    std::optional<T> value_;
    Error error_;
};

// Success without a value, or an Error.
template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : failed_(true), error_(std::move(error)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return error_.message; }
    ErrorKind errorKind() const { return error_.kind; }
    const Error& failure() const { return error_; }

  private:
    bool failed_ = false;
    Error error_;
};

using Status = Result<void>;

inline Error fail(std::string message) {
    return Error{std::move(message)};
}
inline Error fail(ErrorKind kind, std::string message) {
    return Error{std::move(message), kind};
}

// `text` as a finished sentence: a full stop is added unless it ends with one (or with "!"
// or "?") already, so a message put together from pieces never shows "..".
inline std::string endSentence(std::string text) {
    if (!text.empty() && text.back() != '.' && text.back() != '!' && text.back() != '?')
        text += '.';
    return text;
}

}  // namespace benchcap
