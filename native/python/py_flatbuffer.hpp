#pragma once

#include "python/binding/python.hpp"

namespace tarnwick::py {

PyObject* define_flatbuffer_field(PyObject* module);
PyObject* define_flatbuffer_table(PyObject* module);

}  // namespace tarnwick::py
