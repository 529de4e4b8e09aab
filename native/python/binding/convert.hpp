// Argument converters and result builders. A converter takes the matched
// argument with its parameter name, so every TypeError it raises names that
// parameter ("argument '{}': {}").
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "python/binding/errors.hpp"
#include "python/binding/python.hpp"
#include "python/binding/ref.hpp"

namespace tarnwick::py {

// One matched argument: the object (borrowed; nullptr when omitted) and the
// name of its parameter.
struct Arg {
  PyObject* obj;
  const char* name;

  bool missing() const { return obj == nullptr; }
};

// The name of an object's type, for type-mismatch texts.
std::string type_name(PyObject* obj);

// str → UTF-8 text (copied, or viewed while the argument is alive).
std::string to_text(Arg a);
std::string_view to_text_view(Arg a);
std::string_view text_view(PyObject* str);  // for a known str; throws on failure

// bytes and bytearray are copied; other sequences of ints 0..255 element by
// element; str is refused.
std::string to_bytes(Arg a);
// Views the contents of bytes without a copy; false for any other type.
bool bytes_view(PyObject* obj, std::string_view& out);

// Integers through the index protocol (bools count as 0 and 1); OverflowError
// outside the width, TypeError for non-integers.
std::uint64_t to_u64(Arg a);
std::uint32_t to_u32(Arg a);
std::uint16_t to_u16(Arg a);
std::uint8_t to_u8(Arg a);
std::size_t to_usize(Arg a);
std::int64_t to_i64(Arg a);
double to_f64(Arg a);
bool to_bool(Arg a);  // exactly True or False

// An optional parameter whose default is None: absent, or `convert(a)`.
template <class F>
auto to_optional(Arg a, F convert) -> std::optional<decltype(convert(a))> {
  if (a.missing()) return std::nullopt;
  return convert(a);
}

// The non-bool rule: ValueError "{label} must be a non-negative integer".
std::uint64_t extract_nonbool_u64(PyObject* value, std::string_view label);
// ValueError "control_epoch must be a non-negative integer or None".
std::optional<std::uint64_t> extract_optional_control_epoch(PyObject* value);

// Non-blank check of Python-facing text ("{label} must be a non-empty string").
void validate_nonblank_text(std::string_view label, std::string_view text);

// The elements of any sequence except str, as owned references.
std::vector<Ref> to_sequence(Arg a);

// ---- results -------------------------------------------------------------

Ref to_py(Ref r);
Ref to_py(std::string_view s);
inline Ref to_py(const std::string& s) { return to_py(std::string_view(s)); }
inline Ref to_py(const char* s) { return to_py(std::string_view(s)); }
Ref to_py_bytes(std::string_view bytes);
Ref to_py(double v);
Ref to_py_bool(bool v);
Ref to_py_u64(std::uint64_t v);
Ref to_py_i64(std::int64_t v);

template <class I>
  requires std::integral<I>
Ref to_py(I v) {
  if constexpr (std::same_as<I, bool>) {
    return to_py_bool(v);
  } else if constexpr (std::is_signed_v<I>) {
    return to_py_i64(static_cast<std::int64_t>(v));
  } else {
    return to_py_u64(static_cast<std::uint64_t>(v));
  }
}

}  // namespace tarnwick::py
