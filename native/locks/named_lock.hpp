// Named locks that exclude within the process (one shared state per name)
// and across processes (flock on a lock file under the temporary directory).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "support/result.hpp"
#include "time/clock.hpp"

namespace tarnwick {

// The in-process half of a named lock, shared by every lock object and lease
// of that name.
class NativeLockState {
 public:
  // Sets `held`, waiting for a release first when `blocking`; `name` only
  // feeds the message of a non-blocking refusal.
  Status claim(bool blocking, std::string_view name);
  // Clears `held` and wakes one waiter.
  void release();

 private:
  // Guards held_. Held only to test or change it (nothing that can fail runs
  // under it, so it cannot be poisoned): never during file operations, never
  // while the interpreter lock is being taken, and released while waiting.
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
};

// "ThreadId(N)": N is unique to the calling thread for the life of the process.
std::string current_thread_id_text();

// The lock file of a (trimmed) name under the temporary directory.
std::string lock_file_path(std::string_view name);

class TarnwickLockLeaseCore {
 public:
  TarnwickLockLeaseCore(std::string lock_name, std::string owner,
                        std::shared_ptr<NativeLockState> state, std::int64_t acquired_time_ns,
                        int fd);
  TarnwickLockLeaseCore(TarnwickLockLeaseCore&& other) noexcept;
  TarnwickLockLeaseCore& operator=(TarnwickLockLeaseCore&&) = delete;
  TarnwickLockLeaseCore(const TarnwickLockLeaseCore&) = delete;
  TarnwickLockLeaseCore& operator=(const TarnwickLockLeaseCore&) = delete;
  // An unreleased lease releases on destruction; its errors are dropped.
  ~TarnwickLockLeaseCore();

  // True when this call released the lock, false when it already was.
  Result<bool> release();

  const std::string& lock_name() const { return lock_name_; }
  const std::string& owner() const { return owner_; }
  std::int64_t acquired_time_ns() const { return acquired_time_ns_; }
  bool is_released() const { return released_; }

 private:
  std::string lock_name_;
  std::string owner_;
  std::shared_ptr<NativeLockState> state_;
  std::int64_t acquired_time_ns_;
  int fd_;  // the locked lock file; -1 once taken out by a release
  bool released_ = false;
};

class TarnwickLockCore {
 public:
  static Result<TarnwickLockCore> for_resource(
      std::string_view name, std::shared_ptr<const TarnwickTimeProvider> time_provider =
                                 std::make_shared<SystemTarnwickTimeProvider>());

  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }

  // `owner` absent: labelled after the calling thread. May block twice when
  // `blocking`: for the in-process claim, then for the file lock.
  Result<TarnwickLockLeaseCore> take(std::optional<std::string_view> owner, bool blocking) const;

 private:
  TarnwickLockCore(std::string name, std::string path, std::shared_ptr<NativeLockState> state,
                   std::shared_ptr<const TarnwickTimeProvider> time_provider)
      : name_(std::move(name)),
        path_(std::move(path)),
        state_(std::move(state)),
        time_provider_(std::move(time_provider)) {}

  std::string name_;
  std::string path_;
  std::shared_ptr<NativeLockState> state_;
  std::shared_ptr<const TarnwickTimeProvider> time_provider_;
};

}  // namespace tarnwick
