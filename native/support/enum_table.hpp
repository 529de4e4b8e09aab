// One table per enumeration: numeric code, Python member name, lower-case
// name. The core reads the names for display texts and messages; the binding
// layer builds the Python enumeration classes from the same table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnwick {

struct EnumEntry {
  std::uint8_t code;
  const char* member;  // Python attribute, CamelCase
  const char* name;    // lower-case name: `value`, display texts, messages
};

// Specialised per enumeration with `class_name`, `entries` (codes 0..N-1 in
// order) and `has_repr`.
template <class E>
struct EnumTraits;

template <class E>
constexpr std::string_view enum_name(E e) {
  return EnumTraits<E>::entries[static_cast<std::size_t>(e)].name;
}

template <class E>
constexpr std::optional<E> enum_from_name(std::string_view name) {
  for (const auto& entry : EnumTraits<E>::entries) {
    if (name == entry.name) return static_cast<E>(entry.code);
  }
  return std::nullopt;
}

}  // namespace tarnwick
