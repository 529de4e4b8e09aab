// The query path shared by every Python class that owns a stream store:
// argument conversion, the SQL gate, parameter conversion, the SQL run with
// the interpreter lock released, and rows to dicts.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "python/binding/convert.hpp"
#include "stream/stream_store.hpp"

namespace tarnwick::py {

using StreamHandle = std::shared_ptr<StreamState>;

// Runs `f(store)` under the store mutex, with the interpreter lock held; a
// poisoned store raises RuntimeError.
template <class F>
auto lock_stream_processor(const StreamHandle& state, F&& f) {
  return unwrap(state->with(std::forward<F>(f)));
}

// The converted arguments of a query: the SQL text and the parameter dict
// (borrowed from the call; nullptr when omitted or None).
struct StreamQueryArgs {
  std::string sql;
  PyObject* parameters = nullptr;
};

// Argument conversion only: `sql` must be a str, `parameters` a dict or None.
StreamQueryArgs convert_stream_query_args(Arg sql, Arg parameters);

// The named parameters of a dict, in its iteration order.
std::vector<NamedParameter> to_sql_parameters(PyObject* dict);

// Gate, parameters, run and conversion: the list of row dicts.
Ref query_stream_processor(const StreamHandle& state, const StreamQueryArgs& args);

// As query_stream_processor, but None for no row, the dict of a single row,
// and ValueError `more_than_one_row` for more.
Ref query_one_stream_processor(const StreamHandle& state, const StreamQueryArgs& args,
                               const char* more_than_one_row);

}  // namespace tarnwick::py
