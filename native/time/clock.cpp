#include "time/clock.hpp"

#include <limits>
#include <string>

namespace tarnwick {
namespace {

using Wide = unsigned __int128;

timespec read_wall_clock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

// A reading before the epoch, described the way the error texts show it.
std::string before_epoch_description(const timespec& reading) {
  const Wide before = static_cast<Wide>(-(static_cast<__int128>(reading.tv_sec) * 1'000'000'000 +
                                          reading.tv_nsec));
  const auto seconds = static_cast<std::uint64_t>(before / 1'000'000'000);
  const auto nanos = static_cast<std::uint64_t>(before % 1'000'000'000);
  std::string frac = std::to_string(nanos);
  frac.insert(0, 9 - frac.size(), '0');
  return "the clock reads " + std::to_string(seconds) + "." + frac +
         "s before 1970-01-01T00:00:00Z";
}

bool before_epoch(const timespec& reading) { return reading.tv_sec < 0; }

Wide nanoseconds(const timespec& reading) {
  return static_cast<Wide>(reading.tv_sec) * 1'000'000'000 + static_cast<Wide>(reading.tv_nsec);
}

}  // namespace

Result<std::uint64_t> system_time_ns_from(const timespec& reading) {
  if (before_epoch(reading)) {
    return Error::runtime("system clock before Unix epoch: " + before_epoch_description(reading));
  }
  const Wide ns = nanoseconds(reading);
  if (ns > std::numeric_limits<std::uint64_t>::max()) {
    return Error::runtime("system time does not fit in nanoseconds");
  }
  return static_cast<std::uint64_t>(ns);
}

Result<std::uint64_t> current_system_time_ns() { return system_time_ns_from(read_wall_clock()); }

Result<std::int64_t> SystemTarnwickTimeProvider::from(const timespec& reading) {
  if (before_epoch(reading)) {
    return Error::runtime("system clock before UNIX epoch: " + before_epoch_description(reading));
  }
  const Wide ns = nanoseconds(reading);
  if (ns > static_cast<Wide>(std::numeric_limits<std::int64_t>::max())) {
    return Error::runtime("system time nanoseconds exceed signed 64-bit range");
  }
  return static_cast<std::int64_t>(ns);
}

Result<std::int64_t> SystemTarnwickTimeProvider::now_ns() const { return from(read_wall_clock()); }

}  // namespace tarnwick
