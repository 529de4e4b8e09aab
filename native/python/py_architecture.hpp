#pragma once

#include "python/binding/python.hpp"

namespace tarnwick::py {

PyObject* define_architecture_pad(PyObject* module);
PyObject* define_architecture_relay(PyObject* module);
PyObject* define_architecture_via(PyObject* module);
PyObject* define_architecture_regulator(PyObject* module);
PyObject* define_architecture_ground(PyObject* module);
PyObject* define_architecture_probe(PyObject* module);
PyObject* define_architecture_capacitor(PyObject* module);
PyObject* define_architecture_resistor(PyObject* module);

}  // namespace tarnwick::py
