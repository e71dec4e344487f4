// What an operation of the service API comes to: its value, or why there is
// none. No exceptions leave the API; a caller switches on the error's kind
// and shows its message.
#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace qorvel::api {

enum class ErrorKind {
    refused,         // the service answered and said no
    unreachable,     // no usable answer: nothing listening, a cut answer, a server error
    not_understood,  // an answer, but not one the service gives
};

struct Error {
    ErrorKind kind = ErrorKind::unreachable;
    std::string message;               // GBK, as the windows show it; may be empty
    std::vector<std::string> details;  // further GBK lines, each shown on its own
};

const char* kind_name(ErrorKind kind);

template <class T>
class Result {
  public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error error) : v_(std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<1>(v_); }
    ErrorKind kind() const { return error().kind; }

  private:
    std::variant<T, Error> v_;
};

// An operation that gives nothing back but its success.
template <>
class Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), ok_(false) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const Error& error() const { return error_; }
    ErrorKind kind() const { return error_.kind; }

  private:
    Error error_;
    bool ok_ = true;
};

}  // namespace qorvel::api
