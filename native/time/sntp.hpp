// One SNTP client exchange: a fresh IPv4 UDP socket per call, one request,
// one reply, the server's transmit time. Plain C++; safe to run without the
// interpreter lock, since it touches only the settings it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/result.hpp"

namespace tarnwick {

struct NtpTimeProviderCore {
  std::string server;  // untrimmed, as given
  std::uint64_t timeout_ms = 1000;
  std::uint16_t port = 123;

  static Result<NtpTimeProviderCore> make(std::string server, std::uint16_t port,
                                          std::uint64_t timeout_ms);

  // The whole exchange; blocks for up to the timeout twice (send, receive).
  Result<std::uint64_t> now_ns() const;
};

inline constexpr std::size_t kSntpPacketSize = 48;

// Leap indicator 0, version 3, client mode; every other byte zero.
std::array<std::uint8_t, kSntpPacketSize> sntp_request();

// The transmit timestamp of a reply of `size` bytes, as Unix nanoseconds.
Result<std::uint64_t> sntp_transmit_time_ns(const std::uint8_t* reply, std::size_t size);

}  // namespace tarnwick
