// Releasing the interpreter lock around work that touches no Python object.
#pragma once

#include <utility>

#include "python/binding/python.hpp"

namespace tarnwick::py {

// Drops the interpreter lock for its lifetime. Take any core mutex only after
// constructing it and release that mutex before it is destroyed, so that no
// thread ever waits for the interpreter lock while holding a core mutex.
class ReleasedInterpreterLock {
 public:
  ReleasedInterpreterLock() : saved_(PyEval_SaveThread()) {}
  ~ReleasedInterpreterLock() { PyEval_RestoreThread(saved_); }
  ReleasedInterpreterLock(const ReleasedInterpreterLock&) = delete;
  ReleasedInterpreterLock& operator=(const ReleasedInterpreterLock&) = delete;

 private:
  PyThreadState* saved_;
};

// Runs `f()` without the interpreter lock, taking it back afterwards even
// when `f` throws. `f` must not touch Python objects.
template <class F>
decltype(auto) without_interpreter_lock(F&& f) {
  ReleasedInterpreterLock unlocked;
  return std::forward<F>(f)();
}

}  // namespace tarnwick::py
