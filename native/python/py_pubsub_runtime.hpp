#pragma once

#include "python/binding/python.hpp"

namespace tarnwick::py {

PyObject* define_pubsub_runtime(PyObject* module);

}  // namespace tarnwick::py
