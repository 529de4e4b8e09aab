// Python faces of FlatBuffer pad layouts.
#include "python/py_flatbuffer.hpp"

#include "python/binding/classdef.hpp"
#include "stream/flatbuffer_decoder.hpp"

namespace tarnwick::py {
namespace {

constexpr auto kFieldNew = sig("FlatBufferField", req("name"), req("index"), req("field_type"));

FlatBufferFieldCore field_new(const Args<3>& a) {
  std::string name = to_text(a[0]);
  const std::uint16_t index = to_u16(a[1]);
  const std::string_view field_type = to_text_view(a[2]);
  return unwrap(FlatBufferFieldCore::make(std::move(name), index, field_type));
}

constexpr auto kTableNew = sig("FlatBufferTable", req("name"), req("fields"));

FlatBufferTableCore table_new(const Args<2>& a) {
  std::string name = to_text(a[0]);
  std::vector<FlatBufferFieldCore> fields = unbox_sequence<FlatBufferFieldCore>(a[1]);
  return unwrap(FlatBufferTableCore::make(std::move(name), std::move(fields)));
}

}  // namespace

PyObject* define_flatbuffer_field(PyObject* m) {
  using F = FlatBufferFieldCore;
  return ClassDef<F>("FlatBufferField")
      .constructor<kFieldNew, field_new>()
      .getter<[](const F& f) { return f.name; }>("name")
      .getter<[](const F& f) { return f.index; }>("index")
      .getter<[](const F& f) { return field_type_name(f.type); }>("field_type")
      .build(m);
}

PyObject* define_flatbuffer_table(PyObject* m) {
  using T = FlatBufferTableCore;
  return ClassDef<T>("FlatBufferTable")
      .constructor<kTableNew, table_new>()
      .getter<[](const T& t) { return t.name; }>("name")
      .getter<[](const T& t) { return t.fields; }>("fields")
      .build(m);
}

}  // namespace tarnwick::py
