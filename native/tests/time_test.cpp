#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "time/clock.hpp"

namespace tarnwick {
namespace {

timespec reading(std::int64_t sec, long nsec) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(sec);
  t.tv_nsec = nsec;
  return t;
}

TEST(WallClock, UnsignedRangeEndsJustBelowTwoToThe64) {
  // 2^64 - 1 ns = 18446744073 s + 709551615 ns.
  const Result<std::uint64_t> last = system_time_ns_from(reading(18446744073, 709551615));
  ASSERT_TRUE(last.ok());
  EXPECT_EQ(last.value(), std::numeric_limits<std::uint64_t>::max());
  const Result<std::uint64_t> beyond = system_time_ns_from(reading(18446744073, 709551616));
  ASSERT_FALSE(beyond.ok());
  EXPECT_EQ(beyond.error().message, "system time does not fit in nanoseconds");
  EXPECT_EQ(beyond.error().kind, ErrorKind::Runtime);
}

TEST(WallClock, SignedRangeEndsJustBelowTwoToThe63) {
  // 2^63 - 1 ns = 9223372036 s + 854775807 ns.
  const Result<std::int64_t> last = SystemTarnwickTimeProvider::from(reading(9223372036, 854775807));
  ASSERT_TRUE(last.ok());
  EXPECT_EQ(last.value(), std::numeric_limits<std::int64_t>::max());
  const Result<std::int64_t> beyond =
      SystemTarnwickTimeProvider::from(reading(9223372036, 854775808));
  ASSERT_FALSE(beyond.ok());
  EXPECT_EQ(beyond.error().message, "system time nanoseconds exceed signed 64-bit range");
}

TEST(WallClock, BeforeEpochIsAnErrorWithItsOwnSpelling) {
  const timespec before = reading(-2, 250'000'000);  // 1.75 s before the epoch
  const Result<std::uint64_t> unsigned_reading = system_time_ns_from(before);
  ASSERT_FALSE(unsigned_reading.ok());
  EXPECT_EQ(unsigned_reading.error().message,
            "system clock before Unix epoch: the clock reads 1.750000000s before "
            "1970-01-01T00:00:00Z");
  const Result<std::int64_t> signed_reading = SystemTarnwickTimeProvider::from(before);
  ASSERT_FALSE(signed_reading.ok());
  EXPECT_EQ(signed_reading.error().message.rfind("system clock before UNIX epoch: ", 0), 0u);
  EXPECT_TRUE(system_time_ns_from(reading(0, 0)).ok());
}

TEST(LogicalCounter, WrapsToZeroAfterTheLargestValue) {
  LogicalCounterCore counter{std::numeric_limits<std::uint64_t>::max() - 1};
  EXPECT_EQ(counter.tick(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(counter.tick(), 0u);
  EXPECT_EQ(counter.tick(), 1u);
}

}  // namespace
}  // namespace tarnwick
