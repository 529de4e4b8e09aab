#pragma once

#include "python/binding/python.hpp"

namespace tarnwick::py {

PyObject* define_log_record_envelope(PyObject* module);
PyObject* define_metric_histogram_record(PyObject* module);
PyObject* define_observability_runtime(PyObject* module);

}  // namespace tarnwick::py
