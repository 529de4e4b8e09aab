// The one include of Python.h: always the 3.11 stable ABI.
#pragma once

#ifndef Py_LIMITED_API
#error "the extension is built against the stable ABI only"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
