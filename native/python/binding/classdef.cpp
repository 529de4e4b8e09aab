#include "python/binding/classdef.hpp"

namespace tarnwick::py {

UseGuard::UseGuard(UseState& state, Use use) : state_(state), use_(use) {
  if (use == Use::Mutating) {
    if (state.count != 0) raise(PyExc_RuntimeError, "Already borrowed");
    state.count = -1;
  } else {
    if (state.count < 0) raise(PyExc_RuntimeError, "Already mutably borrowed");
    ++state.count;
  }
}

UseGuard::~UseGuard() {
  if (use_ == Use::Mutating) {
    state_.count = 0;
  } else {
    --state_.count;
  }
}

namespace detail {

PyObject* build_type(PyObject* module, ClassStorage& storage, const char* name, bool immutable,
                     bool instantiable, std::size_t basicsize) {
  storage.methods.push_back({nullptr, nullptr, 0, nullptr});
  storage.getsets.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
  storage.slots.push_back({Py_tp_methods, storage.methods.data()});
  storage.slots.push_back({Py_tp_getset, storage.getsets.data()});
  storage.slots.push_back({0, nullptr});
  storage.qualified_name = std::string("tarnwick._tarnwick_native.") + name;
  unsigned int flags = Py_TPFLAGS_DEFAULT;
  if (immutable) flags |= Py_TPFLAGS_IMMUTABLETYPE;
  if (!instantiable) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  PyType_Spec spec{storage.qualified_name.c_str(), static_cast<int>(basicsize), 0, flags,
                   storage.slots.data()};
  return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

PyObject* build_function(PyObject* module, PyMethodDef* def) {
  PyObject* name = PyModule_GetNameObject(module);
  if (name == nullptr) return nullptr;
  PyObject* fn = PyCFunction_NewEx(def, nullptr, name);
  Py_DECREF(name);
  return fn;
}

}  // namespace detail
}  // namespace tarnwick::py
