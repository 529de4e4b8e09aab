#include "python/stream_sql.hpp"

#include "python/binding/interpreter_lock.hpp"
#include "stream/sql_gate.hpp"

namespace tarnwick::py {
namespace {

constexpr const char* kParametersArg = "parameters";

// Tries one conversion that may call Python hooks; a failure of the hook only
// means this rule does not apply.
template <class F>
bool attempt(F&& f) {
  try {
    f();
    return true;
  } catch (const PythonError&) {
    PyErr_Clear();
    return false;
  }
}

bool integer_cell(PyObject* value, QueryCell& out) {
  Ref index;
  if (PyLong_Check(value)) {
    index = Ref::borrow(value);
  } else if (PyIndex_Check(value)) {
    index = Ref::steal(PyNumber_Index(value));
    if (!index) {
      PyErr_Clear();
      return false;
    }
  } else {
    return false;
  }
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (overflow != 0 || (v == -1 && PyErr_Occurred())) {
    PyErr_Clear();
    return false;
  }
  out = static_cast<std::int64_t>(v);
  return true;
}

bool float_cell(PyObject* value, QueryCell& out) {
  const double v = PyFloat_AsDouble(value);
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  out = v;
  return true;
}

// The first rule that applies: NULL, bool, integer, float, blob, text.
QueryCell to_query_cell(PyObject* value) {
  if (value == Py_None) return std::monostate{};
  if (PyBool_Check(value)) return static_cast<std::int64_t>(value == Py_True ? 1 : 0);
  if (PyUnicode_CheckExact(value)) return SqlText{std::string(text_view(value))};
  std::string_view bytes;
  if (bytes_view(value, bytes) && PyBytes_CheckExact(value)) return SqlBlob{std::string(bytes)};
  QueryCell cell;
  if (integer_cell(value, cell) || float_cell(value, cell)) return cell;
  if (PyUnicode_Check(value)) return SqlText{std::string(text_view(value))};
  if (attempt([&] { cell = SqlBlob{to_bytes({value, kParametersArg})}; })) return cell;
  raise(PyExc_TypeError, "SQL parameters must be None, bool, int, float, str, or bytes");
}

Ref cell_to_py(const QueryCell& cell) {
  struct Convert {
    Ref operator()(std::monostate) const { return Ref::none(); }
    Ref operator()(std::int64_t v) const { return to_py_i64(v); }
    Ref operator()(double v) const { return to_py(v); }
    Ref operator()(const SqlText& t) const { return to_py(t.text); }
    Ref operator()(const SqlBlob& b) const { return to_py_bytes(b.bytes); }
  };
  return std::visit(Convert{}, cell);
}

Ref rows_to_py(const QueryResult& result) {
  const std::size_t width = result.columns.size();
  std::vector<Ref> names;
  names.reserve(width);
  for (const std::string& name : result.columns) names.push_back(to_py(name));
  const std::size_t rows = result.row_count();
  Ref list = checked(PyList_New(static_cast<Py_ssize_t>(rows)));
  for (std::size_t r = 0; r < rows; ++r) {
    Ref row = checked(PyDict_New());
    for (std::size_t c = 0; c < width; ++c) {
      // A repeated column name keeps its first position and takes the later value.
      Ref value = cell_to_py(result.cells[r * width + c]);
      if (PyDict_SetItem(row.get(), names[c].get(), value.get()) != 0) throw_python_error();
    }
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(r), row.release());
  }
  return list;
}

}  // namespace

StreamQueryArgs convert_stream_query_args(Arg sql, Arg parameters) {
  StreamQueryArgs args{to_text(sql), nullptr};
  if (!parameters.missing()) {
    if (!PyDict_Check(parameters.obj)) {
      raise_argument_type_error(parameters.name, "expected dict, got " + type_name(parameters.obj));
    }
    args.parameters = parameters.obj;
  }
  return args;
}

std::vector<NamedParameter> to_sql_parameters(PyObject* dict) {
  std::vector<NamedParameter> out;
  if (dict == nullptr) return out;
  const Py_ssize_t size = PyDict_Size(dict);
  out.reserve(static_cast<std::size_t>(size));
  Py_ssize_t pos = 0;
  PyObject* borrowed_key = nullptr;
  PyObject* borrowed_value = nullptr;
  while (PyDict_Next(dict, &pos, &borrowed_key, &borrowed_value)) {
    // Conversion hooks may run Python code that changes the dict.
    const Ref key = Ref::borrow(borrowed_key);
    const Ref value = Ref::borrow(borrowed_value);
    if (static_cast<Py_ssize_t>(out.size()) == size) {
      raise(PyExc_RuntimeError, "dictionary keys changed during iteration");
    }
    std::string name = to_text({key.get(), kParametersArg});
    validate_nonblank_text("SQL parameter name", name);
    if (name.front() != ':') name.insert(name.begin(), ':');
    QueryCell cell = to_query_cell(value.get());
    if (PyDict_Size(dict) != size) {
      raise(PyExc_RuntimeError, "dictionary changed size during iteration");
    }
    out.push_back({std::move(name), std::move(cell)});
  }
  return out;
}

Ref query_stream_processor(const StreamHandle& state, const StreamQueryArgs& args) {
  const std::string_view sql = unwrap(gate_stream_sql(args.sql));
  const std::vector<NamedParameter> parameters = to_sql_parameters(args.parameters);
  Result<QueryResult> result = [&] {
    ReleasedInterpreterLock unlocked;
    return state->with([&](StreamStore& store) { return store.query_rows(sql, parameters); });
  }();
  return rows_to_py(unwrap(std::move(result)));
}

Ref query_one_stream_processor(const StreamHandle& state, const StreamQueryArgs& args,
                               const char* more_than_one_row) {
  Ref rows = query_stream_processor(state, args);
  const Py_ssize_t count = PyList_Size(rows.get());
  if (count == 0) return Ref::none();
  if (count > 1) raise(PyExc_ValueError, more_than_one_row);
  return Ref::borrow(PyList_GetItem(rows.get(), 0));
}

}  // namespace tarnwick::py
