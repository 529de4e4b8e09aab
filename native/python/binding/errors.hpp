// Errors across the boundary: a C++ exception that says "a Python exception
// is set", raising helpers, and the translator every entry point returns
// through.
#pragma once

#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "python/binding/ref.hpp"
#include "support/result.hpp"

namespace tarnwick::py {

// Thrown once a Python exception has been set; the translator returns NULL.
struct PythonError {};

[[noreturn]] void throw_python_error();
[[noreturn]] void raise(PyObject* type, std::string_view message);
[[noreturn]] void raise(const Error& error);
void set_error(const Error& error);

// Raises the pending error unless it is a TypeError, which is replaced by
// TypeError("argument '{param}': {message}") with the original as cause.
[[noreturn]] void rethrow_for_argument(const char* param);
// Raises TypeError(inner) re-raised as an argument error of `param`.
[[noreturn]] void raise_argument_type_error(const char* param, std::string_view inner);

// The exception class of internal invariant failures (derived directly from
// BaseException; created at import, not a module attribute).
PyObject* invariant_failure_type();
Status create_invariant_failure_type();

inline Ref checked(PyObject* p) {
  if (p == nullptr) throw_python_error();
  return Ref::steal(p);
}

template <class T>
  requires(!std::is_void_v<T>)
T unwrap(Result<T>&& r) {
  if (!r.ok()) raise(r.error());
  return std::move(r).value();
}

inline void unwrap(const Status& s) {
  if (!s.ok()) raise(s.error());
}

void set_current_exception();

// Runs `f` (returning Ref) and turns every C++ failure into a Python error.
template <class F>
PyObject* translate(F&& f) noexcept {
  try {
    return f().release();
  } catch (...) {
    set_current_exception();
    return nullptr;
  }
}

}  // namespace tarnwick::py
