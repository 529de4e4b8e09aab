#pragma once

#include "python/binding/python.hpp"

namespace tarnwick::py {

PyObject* define_clock_calibration_sample(PyObject* module);
PyObject* define_system_time_provider(PyObject* module);
PyObject* define_ntp_time_provider(PyObject* module);
PyObject* define_monotonic_logical_clock(PyObject* module);
PyObject* define_clock(PyObject* module);
PyObject* define_calibrated_clock(PyObject* module);

}  // namespace tarnwick::py
