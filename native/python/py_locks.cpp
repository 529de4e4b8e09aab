// Python faces of the named locks and their leases.
#include "python/py_locks.hpp"

#include <optional>
#include <string>

#include "locks/named_lock.hpp"
#include "python/binding/classdef.hpp"
#include "python/binding/interpreter_lock.hpp"

namespace tarnwick::py {
namespace {

// ---- TarnwickLock --------------------------------------------------------------------

constexpr auto kLockNew = sig("TarnwickLock", req("name"));
constexpr auto kForResource = sig("for_resource", req("name"));
constexpr auto kTake = sig("take", kwonly("owner", "None"), kwonly("blocking", "True"));

TarnwickLockCore lock_new(const Args<1>& a) {
  return unwrap(TarnwickLockCore::for_resource(to_text_view(a[0])));
}

// Waits (for another holder in this process or in another) run without the
// interpreter lock; otherwise a holder on another thread of this process
// could never run to release.
TarnwickLockLeaseCore take(TarnwickLockCore& lock, const Args<2>& a) {
  std::optional<std::string> owner;
  if (!a[0].missing()) owner = to_text(a[0]);
  const bool blocking = a[1].missing() ? true : to_bool(a[1]);
  return unwrap(without_interpreter_lock([&] {
    return lock.take(owner ? std::optional<std::string_view>(*owner) : std::nullopt, blocking);
  }));
}

// The path as text; bytes that are not UTF-8 show as U+FFFD.
Ref lock_path(const TarnwickLockCore& lock) {
  const std::string& path = lock.path();
  return checked(
      PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace"));
}

// ---- TarnwickLockLease -----------------------------------------------------------------

constexpr auto kRelease = sig("release");
constexpr auto kEnter = sig("__enter__");
constexpr auto kExit = sig("__exit__", req("_exc_type"), req("_exc"), req("_traceback"));

bool lease_release(TarnwickLockLeaseCore& lease, const Args<0>&) {
  return unwrap(lease.release());
}

Ref lease_enter(PyObject* self, TarnwickLockLeaseCore&, const Args<0>&) {
  return Ref::borrow(self);
}

// Returns None, so the with block's own exception always propagates.
void lease_exit(TarnwickLockLeaseCore& lease, const Args<3>&) { (void)unwrap(lease.release()); }

}  // namespace

PyObject* define_tarnwick_lock(PyObject* m) {
  return ClassDef<TarnwickLockCore>("TarnwickLock")
      .constructor<kLockNew, lock_new>()
      .static_method<kForResource, lock_new>()
      .getter<[](const TarnwickLockCore& l) { return l.name(); }>("name")
      .getter<lock_path>("path")
      .method<kTake, take>()
      .build(m);
}

PyObject* define_tarnwick_lock_lease(PyObject* m) {
  return ClassDef<TarnwickLockLeaseCore>("TarnwickLockLease")
      .getter<[](const TarnwickLockLeaseCore& l) { return l.lock_name(); }>("lock_name")
      .getter<[](const TarnwickLockLeaseCore& l) { return l.owner(); }>("owner")
      .getter<[](const TarnwickLockLeaseCore& l) { return l.acquired_time_ns(); }>(
          "acquired_time_ns")
      .getter<[](const TarnwickLockLeaseCore& l) { return l.is_released(); }>("is_released")
      .mutating_method<kRelease, lease_release>()
      .mutating_method<kEnter, lease_enter>()
      .mutating_method<kExit, lease_exit>()
      .build(m);
}

}  // namespace tarnwick::py
