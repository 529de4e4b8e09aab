// Blocking work that touches no Python object runs with the interpreter lock
// released, so other Python threads keep running meanwhile.
#pragma once

#include <utility>

#include "python/binding/python.hpp"

namespace tarnwick::py {

// Runs `f()` without the interpreter lock and takes the lock back afterwards,
// also when `f` throws. `f` must not touch Python objects, and it must
// release every core mutex it takes before returning.
template <class F>
decltype(auto) without_interpreter_lock(F&& f) {
  struct Reacquire {
    PyThreadState* saved;
    ~Reacquire() { PyEval_RestoreThread(saved); }
  } reacquire{PyEval_SaveThread()};
  return std::forward<F>(f)();
}

}  // namespace tarnwick::py
