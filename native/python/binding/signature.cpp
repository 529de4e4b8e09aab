#include "python/binding/signature.hpp"

#include <cstring>
#include <string_view>
#include <vector>

#include "python/binding/errors.hpp"

namespace tarnwick::py {
namespace {

std::string callable_name(const CallSite& site) {
  std::string out;
  if (site.kind == CallableKind::Constructor) {
    out = site.owner;
  } else {
    if (site.owner != nullptr) out.append(site.owner).push_back('.');
    out += site.name;
  }
  return out + "()";
}

[[noreturn]] void arity_error(const std::string& message) {
  raise(PyExc_TypeError, message);
}

std::string quoted_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out.append("'").append(names[i]).append("'");
  }
  return out;
}

void too_many_positional(const CallSite& site, const Param* params, std::size_t count,
                         Py_ssize_t given) {
  std::size_t positional = 0, required = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (params[i].keyword_only) continue;
    ++positional;
    if (!params[i].optional()) ++required;
  }
  // Python counts the bound instance among a method's positional arguments.
  const std::size_t bound = site.kind == CallableKind::Method ? 1 : 0;
  const std::size_t hi = positional + bound, lo = required + bound;
  const std::size_t shown_given = static_cast<std::size_t>(given) + bound;
  std::string message = callable_name(site) + " takes ";
  if (lo != hi) {
    message += "from " + std::to_string(lo) + " to " + std::to_string(hi);
  } else {
    message += std::to_string(hi);
  }
  message += hi == 1 && lo == hi ? " positional argument" : " positional arguments";
  message += " but " + std::to_string(shown_given) + (shown_given == 1 ? " was" : " were") +
             " given";
  arity_error(message);
}

void check_missing(const CallSite& site, const Param* params, std::size_t count,
                   PyObject** out) {
  std::vector<const char*> positional, keyword;
  for (std::size_t i = 0; i < count; ++i) {
    if (out[i] != nullptr || params[i].optional()) continue;
    (params[i].keyword_only ? keyword : positional).push_back(params[i].name);
  }
  const auto report = [&](const std::vector<const char*>& names, const char* what) {
    arity_error(callable_name(site) + " missing " + std::to_string(names.size()) + " required " +
                what + (names.size() == 1 ? " argument: " : " arguments: ") +
                quoted_list(names));
  };
  if (!positional.empty()) report(positional, "positional");
  if (!keyword.empty()) report(keyword, "keyword-only");
}

void place_keyword(const CallSite& site, const Param* params, std::size_t count,
                   PyObject* key, PyObject* value, PyObject** out) {
  if (!PyUnicode_Check(key)) arity_error(callable_name(site) + " keywords must be strings");
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
  if (utf8 == nullptr) throw_python_error();
  const std::string_view name(utf8, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < count; ++i) {
    if (name != params[i].name) continue;
    if (out[i] != nullptr) {
      arity_error(callable_name(site) + " got multiple values for argument '" +
                  std::string(name) + "'");
    }
    out[i] = value;
    return;
  }
  arity_error(callable_name(site) + " got an unexpected keyword argument '" + std::string(name) +
              "'");
}

void place_positional(const CallSite& site, const Param* params, std::size_t count,
                      PyObject* const* args, Py_ssize_t nargs, PyObject** out) {
  std::size_t positional = 0;
  while (positional < count && !params[positional].keyword_only) ++positional;
  if (static_cast<std::size_t>(nargs) > positional) too_many_positional(site, params, count, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
}

void finish(const CallSite& site, const Param* params, std::size_t count, PyObject** out) {
  check_missing(site, params, count, out);
  for (std::size_t i = 0; i < count; ++i) {
    if (out[i] == Py_None && params[i].none_is_default()) out[i] = nullptr;
  }
}

}  // namespace

std::string text_signature(const char* name, CallableKind kind, const Param* params,
                           std::size_t count) {
  std::string out = name;
  out += '(';
  bool first = true;
  const auto separator = [&] {
    if (!first) out += ", ";
    first = false;
  };
  if (kind == CallableKind::Method) {
    separator();
    out += "$self";
  }
  bool star = false;
  for (std::size_t i = 0; i < count; ++i) {
    if (params[i].keyword_only && !star) {
      separator();
      out += '*';
      star = true;
    }
    separator();
    out += params[i].name;
    if (params[i].optional()) out.append("=").append(params[i].default_text);
  }
  out += ")\n--\n\n";
  return out;
}

void match_fastcall(const CallSite& site, const Param* params, std::size_t count,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = nullptr;
  place_positional(site, params, count, args, nargs, out);
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      place_keyword(site, params, count, PyTuple_GetItem(kwnames, k), args[nargs + k], out);
    }
  }
  finish(site, params, count, out);
}

void match_tuple(const CallSite& site, const Param* params, std::size_t count, PyObject* args,
                 PyObject* kwargs, PyObject** out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = nullptr;
  const Py_ssize_t nargs = PyTuple_Size(args);
  std::size_t positional = 0;
  while (positional < count && !params[positional].keyword_only) ++positional;
  if (static_cast<std::size_t>(nargs) > positional) too_many_positional(site, params, count, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      place_keyword(site, params, count, key, value, out);
    }
  }
  finish(site, params, count, out);
}

}  // namespace tarnwick::py
