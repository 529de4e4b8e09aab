// The Graph family: the graph, its port handles, and the values they return.
#pragma once

#include <memory>
#include <type_traits>

#include "core/graph_core.hpp"
#include "python/binding/classdef.hpp"

namespace tarnwick::py {

// Graph and every handle made from it share one guarded state.
struct GraphHandle {
  std::shared_ptr<GraphState> state;
};

struct ReadablePortHandle {
  std::shared_ptr<GraphState> state;
  RouteRefCore route;
};

struct WritablePortHandle {
  std::shared_ptr<GraphState> state;
  RouteRefCore route;
};

// Runs `f(core)` under the graph mutex and passes its result back; a
// poisoned graph raises RuntimeError "graph mutex poisoned" without running it.
template <class F>
auto lock_graph(GraphState& state, F&& f) {
  using R = std::invoke_result_t<F, GraphCore&>;
  if constexpr (std::is_void_v<R>) {
    unwrap(state.with([&](GraphCore& core) -> Status {
      f(core);
      return {};
    }));
  } else {
    return unwrap(state.with([&](GraphCore& core) -> Result<R> { return f(core); }));
  }
}

PyObject* define_port_descriptor(PyObject* module);
PyObject* define_readable_port(PyObject* module);
PyObject* define_writable_port(PyObject* module);
PyObject* define_retention_snapshot(PyObject* module);
PyObject* define_graph(PyObject* module);

// Graph methods defined next to the families they serve.
void add_routing_methods(ClassDef<GraphHandle>& def);       // mailboxes, bindings, queries
void add_materializer_methods(ClassDef<GraphHandle>& def);  // materialisers, fast emits, loops

}  // namespace tarnwick::py
