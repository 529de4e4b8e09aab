// One declarative signature per callable. Its text signature (the docstring)
// and its argument matching both come from it, so they cannot disagree.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "python/binding/python.hpp"

namespace tarnwick::py {

struct Param {
  const char* name;
  const char* default_text = nullptr;  // shown in the signature; nullptr: required
  bool keyword_only = false;

  constexpr bool optional() const { return default_text != nullptr; }
  // An explicit None means omission for a parameter whose default is None.
  constexpr bool none_is_default() const {
    return default_text != nullptr && default_text[0] == 'N' && default_text[1] == 'o' &&
           default_text[2] == 'n' && default_text[3] == 'e' && default_text[4] == '\0';
  }
};

constexpr Param req(const char* name) { return {name}; }
constexpr Param opt(const char* name, const char* default_text = "None") {
  return {name, default_text};
}
constexpr Param kwonly(const char* name, const char* default_text = nullptr) {
  return {name, default_text, true};
}

template <std::size_t N>
struct Signature {
  const char* name;
  std::array<Param, N> params;
  static constexpr std::size_t size = N;
};

template <class... P>
constexpr Signature<sizeof...(P)> sig(const char* name, P... params) {
  return {name, {params...}};
}

enum class CallableKind { Function, Method, StaticMethod, Constructor };

// "name($self, a, b=None, *, c=1)\n--\n\n"
std::string text_signature(const char* name, CallableKind kind, const Param* params,
                           std::size_t count);

template <std::size_t N>
std::string text_signature(const Signature<N>& s, CallableKind kind) {
  return text_signature(s.name, kind, s.params.data(), N);
}

// Who is being called, for interpreter-style arity messages.
struct CallSite {
  const char* owner;  // class name, or nullptr for a module function
  const char* name;
  CallableKind kind;
};

// Matches positional and keyword arguments onto `out` (borrowed; nullptr
// where omitted, or where None stands for a None default). Throws
// PythonError with a TypeError set on an arity or keyword problem.
void match_fastcall(const CallSite& site, const Param* params, std::size_t count,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
void match_tuple(const CallSite& site, const Param* params, std::size_t count, PyObject* args,
                 PyObject* kwargs, PyObject** out);

}  // namespace tarnwick::py
