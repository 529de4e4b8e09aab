#include "python/binding/errors.hpp"

#include <exception>

namespace tarnwick::py {
namespace {

PyObject* g_invariant_failure = nullptr;

PyObject* exception_type(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Value: return PyExc_ValueError;
    case ErrorKind::Type: return PyExc_TypeError;
    case ErrorKind::Overflow: return PyExc_OverflowError;
    case ErrorKind::Key: return PyExc_KeyError;
    case ErrorKind::Runtime: return PyExc_RuntimeError;
  }
  return PyExc_RuntimeError;
}

Ref text(std::string_view s) {
  return checked(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

}  // namespace

void throw_python_error() { throw PythonError{}; }

void raise(PyObject* type, std::string_view message) {
  Ref m = text(message);
  PyErr_SetObject(type, m.get());
  throw PythonError{};
}

void set_error(const Error& error) {
  PyObject* message =
      PyUnicode_FromStringAndSize(error.message.data(), static_cast<Py_ssize_t>(error.message.size()));
  if (message == nullptr) return;
  PyErr_SetObject(exception_type(error.kind), message);
  Py_DECREF(message);
}

void raise(const Error& error) {
  set_error(error);
  throw PythonError{};
}

void rethrow_for_argument(const char* param) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PythonError{};
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  Ref cause = Ref::steal(value);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  Ref inner = checked(PyObject_Str(cause.get()));
  Ref message = checked(PyUnicode_FromFormat("argument '%s': %U", param, inner.get()));
  Ref wrapped = checked(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  PyException_SetContext(wrapped.get(), Ref::borrow(cause.get()).release());
  PyException_SetCause(wrapped.get(), cause.release());
  // Restore keeps the chain as built; SetObject would re-chain the context.
  PyErr_Restore(Ref::borrow(PyExc_TypeError).release(), wrapped.release(), nullptr);
  throw PythonError{};
}

void raise_argument_type_error(const char* param, std::string_view inner) {
  Ref m = text(inner);
  PyErr_SetObject(PyExc_TypeError, m.get());
  rethrow_for_argument(param);
}

PyObject* invariant_failure_type() { return g_invariant_failure; }

Status create_invariant_failure_type() {
  if (g_invariant_failure != nullptr) return {};
  g_invariant_failure = PyErr_NewExceptionWithDoc(
      "tarnwick._tarnwick_native.InternalInvariantError",
      "An internal invariant of the native core failed; the state it guarded is poisoned.",
      PyExc_BaseException, nullptr);
  if (g_invariant_failure == nullptr) return Error::runtime("cannot create invariant type");
  return {};
}

void set_current_exception() {
  try {
    throw;
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error flagged but not set");
  } catch (const InvariantFailure& e) {
    PyErr_SetString(g_invariant_failure ? g_invariant_failure : PyExc_SystemError, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unknown native exception");
  }
}

}  // namespace tarnwick::py
