// Status and Result<T>: errors as values across module boundaries.
//
// A Status is either OK or carries one code from a closed set and a message
// with context (page, table, column ...). Libraries return these; they never
// print and never let an exception cross their public API.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace velquin {

enum class StatusCode {
  kOk = 0,
  kNotFound,
  kCorruption,
  kNotSupported,
  kInvalidArgument,
  kIOError,
  kConstraint,
  kCancelled,
  kBusy,  // the file is in use by another writer
};

class [[nodiscard]] Status {
 public:
  Status() = default;

  static Status Ok() { return Status(); }
  static Status NotFound(std::string msg) { return {StatusCode::kNotFound, std::move(msg)}; }
  static Status Corruption(std::string msg) { return {StatusCode::kCorruption, std::move(msg)}; }
  static Status NotSupported(std::string msg) {
    return {StatusCode::kNotSupported, std::move(msg)};
  }
  static Status InvalidArgument(std::string msg) {
    return {StatusCode::kInvalidArgument, std::move(msg)};
  }
  static Status IOError(std::string msg) { return {StatusCode::kIOError, std::move(msg)}; }
  static Status Constraint(std::string msg) { return {StatusCode::kConstraint, std::move(msg)}; }
  static Status Cancelled(std::string msg) { return {StatusCode::kCancelled, std::move(msg)}; }
  static Status Busy(std::string msg) { return {StatusCode::kBusy, std::move(msg)}; }

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  const std::string& message() const { return message_; }

  // "Corruption: page 7, field row count: ..." — for logs and error texts.
  std::string ToString() const {
    if (ok()) return "OK";
    return std::string(CodeName(code_)) + ": " + message_;
  }

  // Returns a copy whose message is prefixed with `context` (e.g. a table name).
  Status WithContext(std::string_view context) const {
    if (ok()) return *this;
    return Status(code_, std::string(context) + ": " + message_);
  }

  static const char* CodeName(StatusCode code) {
    switch (code) {
      case StatusCode::kOk:
        return "OK";
      case StatusCode::kNotFound:
        return "Not found";
      case StatusCode::kCorruption:
        return "Corruption";
      case StatusCode::kNotSupported:
        return "Not supported";
      case StatusCode::kInvalidArgument:
        return "Invalid argument";
      case StatusCode::kIOError:
        return "IO error";
      case StatusCode::kConstraint:
        return "Constraint";
      case StatusCode::kCancelled:
        return "Cancelled";
      case StatusCode::kBusy:
        return "Busy";
    }
    return "Unknown";
  }

 private:
  Status(StatusCode code, std::string msg) : code_(code), message_(std::move(msg)) {}

  StatusCode code_ = StatusCode::kOk;
  std::string message_;
};

// Result<T>: a value or a non-OK Status.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}         // NOLINT(google-explicit-constructor)
  Result(Status status) : status_(std::move(status)) {  // NOLINT(google-explicit-constructor)
    assert(!status_.ok() && "a Result built from a Status must carry an error");
    if (status_.ok()) status_ = Status::InvalidArgument("Result built from an OK status");
  }

  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace velquin

// Propagates a non-OK Status out of the calling function.
#define VELQUIN_RETURN_IF_ERROR(expr) \
  do {                                \
    ::velquin::Status _st = (expr);   \
    if (!_st.ok()) return _st;        \
  } while (0)

#define VELQUIN_CONCAT_INNER(a, b) a##b
#define VELQUIN_CONCAT(a, b) VELQUIN_CONCAT_INNER(a, b)
// VELQUIN_ASSIGN_OR_RETURN(auto x, Foo()); — assigns the value or returns the status.
#define VELQUIN_ASSIGN_OR_RETURN(lhs, expr) \
  VELQUIN_ASSIGN_OR_RETURN_IMPL(VELQUIN_CONCAT(_res_, __LINE__), lhs, expr)
// `lhs` is a declaration and `tmp` a name: neither can be put in parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define VELQUIN_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
  auto tmp = (expr);                                  \
  if (!tmp.ok()) return tmp.status();                 \
  lhs = std::move(tmp).value()
// NOLINTEND(bugprone-macro-parentheses)
