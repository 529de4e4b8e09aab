#pragma once

#include "python/binding/python.hpp"

namespace tarnwick::py {

PyObject* define_parse_sql_statement(PyObject* module);
PyObject* define_data_stream_record(PyObject* module);
PyObject* define_data_stream_processor(PyObject* module);

}  // namespace tarnwick::py
