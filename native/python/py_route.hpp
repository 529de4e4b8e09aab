#pragma once

#include "python/binding/python.hpp"

namespace tarnwick::py {

PyObject* define_plane(PyObject* module);
PyObject* define_layer(PyObject* module);
PyObject* define_variant(PyObject* module);
PyObject* define_producer_kind(PyObject* module);
PyObject* define_taint_domain(PyObject* module);
PyObject* define_namespace_ref(PyObject* module);
PyObject* define_schema_ref(PyObject* module);
PyObject* define_route_ref(PyObject* module);
PyObject* define_producer_ref(PyObject* module);
PyObject* define_runtime_ref(PyObject* module);
PyObject* define_clock_domain_ref(PyObject* module);
PyObject* define_taint_mark(PyObject* module);
PyObject* define_schedule_guard(PyObject* module);

}  // namespace tarnwick::py
