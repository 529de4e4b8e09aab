// The one maker of enumeration classes, fed by an EnumTraits table: members
// as class attributes, `value`, the upper-case repr, equality by code only,
// no ordering, no hash, no constructor.
#pragma once

#include <cctype>
#include <string>

#include "python/binding/classdef.hpp"
#include "support/enum_table.hpp"

namespace tarnwick::py {

namespace detail {

template <class E>
std::string enum_value(const E& e) {
  return std::string(enum_name(e));
}

template <class E>
std::string enum_repr(const E& e) {
  std::string out = EnumTraits<E>::class_name;
  out += '.';
  for (char c : enum_name(e)) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

template <class E>
PyObject* enum_richcompare(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || !is_instance<E>(other)) Py_RETURN_NOTIMPLEMENTED;
  const bool equal = payload<E>(self) == payload<E>(other);
  return Ref::borrow((equal == (op == Py_EQ)) ? Py_True : Py_False).release();
}

}  // namespace detail

template <class E>
PyObject* define_enum(PyObject* module) {
  ClassDef<E> def(EnumTraits<E>::class_name);
  def.template getter<&detail::enum_value<E>>("value")
      .richcompare(&detail::enum_richcompare<E>)
      .unhashable()
      .mutable_type();
  if constexpr (EnumTraits<E>::has_repr) def.template repr<&detail::enum_repr<E>>();
  Ref type = Ref::steal(def.build(module));
  if (!type) return nullptr;
  PyObject* result = translate([&] {
    for (const auto& entry : EnumTraits<E>::entries) {
      Ref member = box<E>(static_cast<E>(entry.code));
      if (PyObject_SetAttrString(type.get(), entry.member, member.get()) != 0) throw_python_error();
    }
    return Ref::none();
  });
  if (result == nullptr) return nullptr;
  Py_DECREF(result);
  return type.release();
}

// An argument that must be a member of the enumeration.
template <class E>
E to_enum(Arg a) {
  return unbox<E>(a);
}

}  // namespace tarnwick::py
