#pragma once

#include "python/binding/python.hpp"

namespace tarnwick::py {

PyObject* define_tarnwick_lock(PyObject* module);
PyObject* define_tarnwick_lock_lease(PyObject* module);

}  // namespace tarnwick::py
