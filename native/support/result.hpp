// Error values of the core. The core never raises Python exceptions: it
// returns an Error, and the binding layer maps its kind to an exception type.
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace tarnwick {

enum class ErrorKind { Value, Type, Overflow, Key, Runtime };

struct Error {
  ErrorKind kind;
  std::string message;

  static Error value(std::string m) { return {ErrorKind::Value, std::move(m)}; }
  static Error type(std::string m) { return {ErrorKind::Type, std::move(m)}; }
  static Error overflow(std::string m) { return {ErrorKind::Overflow, std::move(m)}; }
  static Error key(std::string m) { return {ErrorKind::Key, std::move(m)}; }
  static Error runtime(std::string m) { return {ErrorKind::Runtime, std::move(m)}; }
};

// A condition the design rules out. Thrown, not returned: it must unwind
// through any mutex guard so that the guarded state is poisoned for good.
class InvariantFailure : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const T& value() const& { return std::get<0>(v_); }
  const Error& error() const { return std::get<1>(v_); }
  T* operator->() { return &std::get<0>(v_); }
  const T* operator->() const { return &std::get<0>(v_); }
  T& operator*() & { return value(); }

 private:
  std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }

 private:
  Error error_{ErrorKind::Runtime, {}};
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace tarnwick
