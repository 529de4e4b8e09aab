#pragma once

#include <memory>
#include <utility>

#include "pubsub/pubsub_core.hpp"
#include "python/binding/convert.hpp"
#include "python/binding/errors.hpp"
#include "support/guarded.hpp"

namespace tarnwick::py {

using PubSubState = std::shared_ptr<Guarded<InMemoryPubSubCore>>;

// Runs `f(core)` under the bus mutex; a poisoned bus raises RuntimeError.
template <class F>
auto lock_pubsub(const PubSubState& state, F&& f) {
  return unwrap(state->with(std::forward<F>(f)));
}

// A payload argument as a shared body (the byte-string conversion).
PayloadBytes to_payload_bytes(Arg a);

PyObject* define_pubsub_message(PyObject* module);
PyObject* define_pubsub_subscription(PyObject* module);
PyObject* define_pubsub_delivery(PyObject* module);
PyObject* define_in_memory_pubsub(PyObject* module);

}  // namespace tarnwick::py
