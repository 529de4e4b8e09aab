#include "python/binding/convert.hpp"

#include <limits>

#include "support/text.hpp"

namespace tarnwick::py {
namespace {

// Index protocol into an unsigned value no larger than `max`.
std::uint64_t unsigned_index(Arg a, std::uint64_t max) {
  Ref index = Ref::steal(PyNumber_Index(a.obj));
  if (!index) rethrow_for_argument(a.name);
  const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) rethrow_for_argument(a.name);
  if (v > max) raise(PyExc_OverflowError, "integer out of range for its width");
  return v;
}

// An int (not a bool) in 0..2**64-1; the conversion's own error is dropped.
std::optional<std::uint64_t> nonbool_u64(PyObject* value) {
  if (value == nullptr || PyBool_Check(value) || !PyLong_Check(value)) return std::nullopt;
  const unsigned long long v = PyLong_AsUnsignedLongLong(value);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return std::nullopt;
  }
  return v;
}

}  // namespace

std::string type_name(PyObject* obj) {
  Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
  if (!name) {
    PyErr_Clear();
    return "object";
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "object";
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

std::string_view text_view(PyObject* str) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
  if (utf8 == nullptr) throw_python_error();
  return {utf8, static_cast<std::size_t>(size)};
}

std::string_view to_text_view(Arg a) {
  if (!PyUnicode_Check(a.obj)) {
    raise_argument_type_error(a.name, "expected str, got " + type_name(a.obj));
  }
  return text_view(a.obj);
}

std::string to_text(Arg a) { return std::string(to_text_view(a)); }

bool bytes_view(PyObject* obj, std::string_view& out) {
  if (!PyBytes_Check(obj)) return false;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(obj, &data, &size) != 0) throw_python_error();
  out = {data, static_cast<std::size_t>(size)};
  return true;
}

std::string to_bytes(Arg a) {
  std::string_view view;
  if (bytes_view(a.obj, view)) return std::string(view);
  if (PyByteArray_Check(a.obj)) {
    return std::string(PyByteArray_AsString(a.obj),
                       static_cast<std::size_t>(PyByteArray_Size(a.obj)));
  }
  if (PyUnicode_Check(a.obj)) {
    raise_argument_type_error(a.name, "a str cannot be taken as bytes");
  }
  std::string out;
  for (const Ref& item : to_sequence(a)) {
    out.push_back(static_cast<char>(unsigned_index({item.get(), a.name}, 0xFF)));
  }
  return out;
}

std::uint64_t to_u64(Arg a) { return unsigned_index(a, std::numeric_limits<std::uint64_t>::max()); }
std::uint32_t to_u32(Arg a) {
  return static_cast<std::uint32_t>(unsigned_index(a, std::numeric_limits<std::uint32_t>::max()));
}
std::uint16_t to_u16(Arg a) {
  return static_cast<std::uint16_t>(unsigned_index(a, std::numeric_limits<std::uint16_t>::max()));
}
std::uint8_t to_u8(Arg a) { return static_cast<std::uint8_t>(unsigned_index(a, 0xFF)); }
std::size_t to_usize(Arg a) {
  return static_cast<std::size_t>(unsigned_index(a, std::numeric_limits<std::size_t>::max()));
}

std::int64_t to_i64(Arg a) {
  Ref index = Ref::steal(PyNumber_Index(a.obj));
  if (!index) rethrow_for_argument(a.name);
  const long long v = PyLong_AsLongLong(index.get());
  if (v == -1 && PyErr_Occurred()) rethrow_for_argument(a.name);
  return v;
}

double to_f64(Arg a) {
  const double v = PyFloat_AsDouble(a.obj);
  if (v == -1.0 && PyErr_Occurred()) rethrow_for_argument(a.name);
  return v;
}

bool to_bool(Arg a) {
  if (!PyBool_Check(a.obj)) {
    raise_argument_type_error(a.name, "expected bool, got " + type_name(a.obj));
  }
  return a.obj == Py_True;
}

std::uint64_t extract_nonbool_u64(PyObject* value, std::string_view label) {
  if (auto v = nonbool_u64(value)) return *v;
  raise(PyExc_ValueError, std::string(label) + " must be a non-negative integer");
}

std::optional<std::uint64_t> extract_optional_control_epoch(PyObject* value) {
  if (value == nullptr || value == Py_None) return std::nullopt;
  if (auto v = nonbool_u64(value)) return v;
  raise(PyExc_ValueError, "control_epoch must be a non-negative integer or None");
}

void validate_nonblank_text(std::string_view label, std::string_view text) {
  unwrap(tarnwick::validate_nonblank_text(label, text));
}

std::vector<Ref> to_sequence(Arg a) {
  if (PyUnicode_Check(a.obj)) {
    raise_argument_type_error(a.name, "a str cannot be taken as a sequence of items");
  }
  if (!PySequence_Check(a.obj)) {
    raise_argument_type_error(a.name, "expected a sequence, got " + type_name(a.obj));
  }
  const Py_ssize_t size = PySequence_Size(a.obj);
  if (size < 0) rethrow_for_argument(a.name);
  std::vector<Ref> items;
  items.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(a.obj, i));
    if (!item) rethrow_for_argument(a.name);
    items.push_back(std::move(item));
  }
  return items;
}

Ref to_py(Ref r) { return r; }
Ref to_py(std::string_view s) {
  return checked(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
Ref to_py_bytes(std::string_view bytes) {
  return checked(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}
Ref to_py(double v) { return checked(PyFloat_FromDouble(v)); }
Ref to_py_bool(bool v) { return Ref::borrow(v ? Py_True : Py_False); }
Ref to_py_u64(std::uint64_t v) { return checked(PyLong_FromUnsignedLongLong(v)); }
Ref to_py_i64(std::int64_t v) { return checked(PyLong_FromLongLong(v)); }

}  // namespace tarnwick::py
