// A state object behind one mutex, poisoned for good when an invariant
// failure unwinds through a hold of that mutex.
#pragma once

#include <mutex>
#include <type_traits>
#include <utility>

#include "support/result.hpp"

namespace tarnwick {

template <class T>
class Guarded {
 public:
  template <class... A>
  explicit Guarded(const char* poisoned_message, A&&... args)
      : poisoned_message_(poisoned_message), value_(std::forward<A>(args)...) {}

  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  // Runs `f(state)` with the mutex held. `f` returns a Result or Status,
  // which is passed back; a poisoned state answers with the poisoned error
  // without running `f`.
  template <class F>
  auto with(F&& f) -> std::invoke_result_t<F, T&> {
    std::lock_guard<std::mutex> hold(mutex_);
    if (poisoned_) return Error::runtime(poisoned_message_);
    try {
      return std::forward<F>(f)(value_);
    } catch (const InvariantFailure&) {
      poisoned_ = true;
      throw;
    }
  }

  bool poisoned() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return poisoned_;
  }

 private:
  mutable std::mutex mutex_;  // guards value_ and poisoned_; never held with another state's
  const char* poisoned_message_;
  bool poisoned_ = false;
  T value_;
};

}  // namespace tarnwick
