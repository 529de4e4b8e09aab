// Wall-clock readings and per-object logical counters.
#pragma once

#include <cstdint>
#include <ctime>

#include "support/result.hpp"

namespace tarnwick {

// Nanoseconds since the Unix epoch as an unsigned 64-bit count.
Result<std::uint64_t> current_system_time_ns();
// The same conversion of a given reading, so its range checks can be exercised.
Result<std::uint64_t> system_time_ns_from(const timespec& reading);

// The clock the named locks stamp their acquisitions with.
class TarnwickTimeProvider {
 public:
  virtual ~TarnwickTimeProvider() = default;
  virtual Result<std::int64_t> now_ns() const = 0;
};

class SystemTarnwickTimeProvider final : public TarnwickTimeProvider {
 public:
  Result<std::int64_t> now_ns() const override;
  static Result<std::int64_t> from(const timespec& reading);
};

// Advances by one per tick, wrapping at 2^64.
struct LogicalCounterCore {
  std::uint64_t value = 0;

  std::uint64_t tick() { return ++value; }
};

}  // namespace tarnwick
