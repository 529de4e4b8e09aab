#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "locks/named_lock.hpp"

namespace tarnwick {
namespace {

class FailingClock final : public TarnwickTimeProvider {
 public:
  explicit FailingClock(int succeed_first) : remaining_(succeed_first) {}
  Result<std::int64_t> now_ns() const override {
    if (remaining_-- > 0) return std::int64_t{42};
    return Error::runtime("system clock before UNIX epoch: stepped back");
  }

 private:
  mutable int remaining_;
};

class LocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarnwick-locks-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    const std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  static bool file_is_free(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
  }

  std::string dir_;
};

// A clock failure after the file is locked (first or second reading) must
// leave neither the in-process claim nor the file lock behind.
TEST_F(LocksTest, ClockFailureDuringTakeLeavesTheLockFree) {
  for (int good_readings : {0, 1}) {
    const std::string name = "clock-" + std::to_string(good_readings);
    Result<TarnwickLockCore> failing =
        TarnwickLockCore::for_resource(name, std::make_shared<FailingClock>(good_readings));
    ASSERT_TRUE(failing.ok());
    Result<TarnwickLockLeaseCore> lease = failing->take(std::string_view("me"), false);
    ASSERT_FALSE(lease.ok());
    EXPECT_EQ(lease.error().message, "system clock before UNIX epoch: stepped back");
    EXPECT_TRUE(file_is_free(failing->path()));

    Result<TarnwickLockCore> good = TarnwickLockCore::for_resource(name);
    ASSERT_TRUE(good.ok());
    Result<TarnwickLockLeaseCore> retry = good->take(std::nullopt, false);
    ASSERT_TRUE(retry.ok()) << retry.error().message;
    EXPECT_FALSE(file_is_free(good->path()));
    EXPECT_TRUE(retry->release().value());
    EXPECT_TRUE(file_is_free(good->path()));
  }
}

TEST_F(LocksTest, MovedLeaseReleasesOnceAndOnlyFromItsNewHome) {
  Result<TarnwickLockCore> lock = TarnwickLockCore::for_resource("moved");
  ASSERT_TRUE(lock.ok());
  std::optional<TarnwickLockLeaseCore> moved;
  {
    Result<TarnwickLockLeaseCore> lease = lock->take(std::string_view("me"), false);
    ASSERT_TRUE(lease.ok());
    moved.emplace(std::move(lease).value());
  }  // the moved-from lease is destroyed here and must not release
  Result<TarnwickLockLeaseCore> refused = lock->take(std::nullopt, false);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "Tarnwick lock \"moved\" is already held");
  moved.reset();
  EXPECT_TRUE(lock->take(std::nullopt, false).ok());
}

}  // namespace
}  // namespace tarnwick
