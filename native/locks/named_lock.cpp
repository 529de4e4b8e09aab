#include "locks/named_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "support/guarded.hpp"
#include "support/text.hpp"

namespace tarnwick {
namespace {

using Registry = std::map<std::string, std::shared_ptr<NativeLockState>, std::less<>>;

// Created on first use and never destroyed: leases may outlive static
// destruction at exit.
Guarded<Registry>& registry() {
  static auto* locks = new Guarded<Registry>("Tarnwick lock registry mutex poisoned");
  return *locks;
}

std::string os_error(int code) {
  return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
}

Error os_failure(const char* prefix, int code) { return Error::runtime(prefix + os_error(code)); }

std::string temporary_directory() {
  const char* dir = std::getenv("TMPDIR");
  return (dir != nullptr && dir[0] != '\0') ? dir : "/tmp";
}

std::string join(std::string base, std::string_view part) {
  if (!base.empty() && base.back() != '/') base.push_back('/');
  base.append(part);
  return base;
}

std::string hex_file_name(std::string_view name) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(name.size() * 2 + 5);
  for (unsigned char c : name) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  return out + ".lock";
}

// mkdir -p; an existing directory anywhere on the way is fine.
Status create_directories(const std::string& dir) {
  static constexpr const char* kPrefix = "failed to create Tarnwick lock directory: ";
  for (std::size_t end = 1; end <= dir.size(); ++end) {
    if (end != dir.size() && dir[end] != '/') continue;
    const std::string prefix = dir.substr(0, end);
    if (::mkdir(prefix.c_str(), 0777) == 0) continue;
    const int code = errno;
    struct stat info {};
    if (code == EEXIST && ::stat(prefix.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    return os_failure(kPrefix, code);
  }
  return {};
}

Status write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return os_failure("failed to write Tarnwick lock metadata: ", errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

// Closes the file (dropping its flock) unless ownership moved to a lease.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

// ---- in-process state ---------------------------------------------------------------

Status NativeLockState::claim(bool blocking, std::string_view name) {
  std::unique_lock<std::mutex> hold(mutex_);
  if (held_ && !blocking) {
    return Error::runtime("Tarnwick lock " + debug_quote(name) + " is already held");
  }
  released_.wait(hold, [&] { return !held_; });
  held_ = true;
  return {};
}

void NativeLockState::release() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    held_ = false;
  }
  released_.notify_one();
}

std::string current_thread_id_text() {
  static std::atomic<std::uint64_t> next{1};
  thread_local const std::uint64_t id = next.fetch_add(1, std::memory_order_relaxed);
  return "ThreadId(" + std::to_string(id) + ")";
}

std::string lock_file_path(std::string_view name) {
  return join(join(join(temporary_directory(), "tarnwick"), "locks"), hex_file_name(name));
}

// ---- leases ------------------------------------------------------------------------------

TarnwickLockLeaseCore::TarnwickLockLeaseCore(std::string lock_name, std::string owner,
                                             std::shared_ptr<NativeLockState> state,
                                             std::int64_t acquired_time_ns, int fd)
    : lock_name_(std::move(lock_name)),
      owner_(std::move(owner)),
      state_(std::move(state)),
      acquired_time_ns_(acquired_time_ns),
      fd_(fd) {}

TarnwickLockLeaseCore::TarnwickLockLeaseCore(TarnwickLockLeaseCore&& other) noexcept
    : lock_name_(std::move(other.lock_name_)),
      owner_(std::move(other.owner_)),
      state_(std::move(other.state_)),
      acquired_time_ns_(other.acquired_time_ns_),
      fd_(std::exchange(other.fd_, -1)),
      released_(std::exchange(other.released_, true)) {}

TarnwickLockLeaseCore::~TarnwickLockLeaseCore() {
  if (!released_) (void)release();
}

Result<bool> TarnwickLockLeaseCore::release() {
  if (released_) return false;
  // Taken out first: whatever happens below, this lease no longer holds the file.
  const int fd = std::exchange(fd_, -1);
  if (fd >= 0) {
    if (::flock(fd, LOCK_UN) != 0) {
      const int code = errno;
      ::close(fd);
      return os_failure("failed to unlock Tarnwick lock file: ", code);
    }
    ::close(fd);
  }
  state_->release();
  released_ = true;
  return true;
}

// ---- locks -------------------------------------------------------------------------------

Result<TarnwickLockCore> TarnwickLockCore::for_resource(
    std::string_view name, std::shared_ptr<const TarnwickTimeProvider> time_provider) {
  const std::string trimmed(trim_white_space(name));
  if (trimmed.empty()) return Error::value("lock name must be a non-empty string");
  Result<std::shared_ptr<NativeLockState>> state =
      registry().with([&](Registry& locks) -> Result<std::shared_ptr<NativeLockState>> {
        auto it = locks.find(trimmed);
        if (it == locks.end()) {
          it = locks.emplace(trimmed, std::make_shared<NativeLockState>()).first;
        }
        return it->second;
      });
  if (!state.ok()) return state.error();
  std::string path = lock_file_path(trimmed);
  return TarnwickLockCore(trimmed, std::move(path), std::move(state).value(),
                          std::move(time_provider));
}

Result<TarnwickLockLeaseCore> TarnwickLockCore::take(std::optional<std::string_view> owner,
                                                     bool blocking) const {
  std::string label;
  if (owner) {
    label = std::string(trim_white_space(*owner));
    if (label.empty()) return Error::value("lock owner must be a non-empty string");
  } else {
    label = "thread:" + current_thread_id_text();
  }
  if (Status s = state_->claim(blocking, name_); !s.ok()) return s.error();

  // Steps after the claim: on any failure the file is closed (dropping its
  // flock) before the claim is given back, so no error leaves either held.
  std::optional<OpenFile> file;
  auto acquire = [&]() -> Result<std::int64_t> {
    const std::size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      if (Status s = create_directories(path_.substr(0, slash)); !s.ok()) return s.error();
    }
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return os_failure("failed to open Tarnwick lock file: ", errno);
    file.emplace(fd);
    if (::flock(fd, LOCK_EX | (blocking ? 0 : LOCK_NB)) != 0) {
      return os_failure("failed to acquire Tarnwick lock file: ", errno);
    }
    if (::ftruncate(fd, 0) != 0) return os_failure("failed to clear Tarnwick lock file: ", errno);
    if (::lseek(fd, 0, SEEK_SET) != 0) {
      return os_failure("failed to seek Tarnwick lock file: ", errno);
    }
    Result<std::int64_t> stamped = time_provider_->now_ns();
    if (!stamped.ok()) return stamped.error();
    const std::string record = "name=" + name_ + "\nowner=" + label +
                               "\npid=" + std::to_string(::getpid()) +
                               "\nthread=" + current_thread_id_text() +
                               "\nacquired_time_ns=" + std::to_string(*stamped) + "\n";
    if (Status s = write_all(fd, record); !s.ok()) return s.error();
    if (::fsync(fd) != 0) return os_failure("failed to sync Tarnwick lock file: ", errno);
    return time_provider_->now_ns();
  };
  Result<std::int64_t> acquired = acquire();
  if (!acquired.ok()) {
    file.reset();
    state_->release();
    return acquired.error();
  }
  return TarnwickLockLeaseCore(name_, std::move(label), state_, *acquired, file->release());
}

}  // namespace tarnwick
