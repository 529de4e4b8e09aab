#include "time/sntp.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "support/text.hpp"

namespace tarnwick {
namespace {

// Seconds from 1900-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochInNtpSeconds = 2'208'988'800;

std::string os_error(int code) {
  return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
}

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

class AddressList {
 public:
  AddressList() = default;
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  ~AddressList() {
    if (list_ != nullptr) ::freeaddrinfo(list_);
  }
  addrinfo** out() { return &list_; }
  const addrinfo* first() const { return list_; }

 private:
  addrinfo* list_ = nullptr;
};

Result<Socket> bind_any_ipv4() {
  Socket sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (sock.fd() < 0) return Error::runtime("failed to bind NTP socket: " + os_error(errno));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = 0;
  if (::bind(sock.fd(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    return Error::runtime("failed to bind NTP socket: " + os_error(errno));
  }
  return sock;
}

Status set_timeouts(const Socket& sock, std::uint64_t timeout_ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout_ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000) * 1000);
  for (int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
    if (::setsockopt(sock.fd(), SOL_SOCKET, option, &tv, sizeof tv) != 0) {
      return Error::runtime("failed to configure NTP socket: " + os_error(errno));
    }
  }
  return {};
}

Status send_request(const Socket& sock, const std::string& server, std::uint16_t port) {
  static constexpr const char* kPrefix = "failed to send NTP request: ";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  AddressList addresses;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(server.c_str(), service.c_str(), &hints, addresses.out());
  if (rc != 0) {
    const std::string text = rc == EAI_SYSTEM ? os_error(errno) : ::gai_strerror(rc);
    return Error::runtime(kPrefix + text);
  }
  const addrinfo* target = addresses.first();
  if (target == nullptr) return Error::runtime(std::string(kPrefix) + "no addresses to send data to");
  const auto request = sntp_request();
  const ssize_t sent = ::sendto(sock.fd(), request.data(), request.size(), MSG_NOSIGNAL,
                                target->ai_addr, target->ai_addrlen);
  if (sent < 0) return Error::runtime(kPrefix + os_error(errno));
  return {};
}

std::uint32_t read_be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

}  // namespace

Result<NtpTimeProviderCore> NtpTimeProviderCore::make(std::string server, std::uint16_t port,
                                                      std::uint64_t timeout_ms) {
  if (Status s = validate_nonblank_text("ntp server", server); !s.ok()) return s.error();
  if (port == 0) return Error::value("ntp port must be positive");
  if (timeout_ms == 0) return Error::value("ntp timeout_ms must be positive");
  return NtpTimeProviderCore{std::move(server), timeout_ms, port};
}

std::array<std::uint8_t, kSntpPacketSize> sntp_request() {
  std::array<std::uint8_t, kSntpPacketSize> packet{};
  packet[0] = 0x1B;
  return packet;
}

Result<std::uint64_t> sntp_transmit_time_ns(const std::uint8_t* reply, std::size_t size) {
  if (size < kSntpPacketSize) return Error::runtime("NTP response was shorter than 48 bytes");
  const std::uint64_t seconds = read_be32(reply + 40);
  const std::uint64_t fraction = read_be32(reply + 44);
  if (seconds < kUnixEpochInNtpSeconds) return Error::runtime("NTP response predates Unix epoch");
  const std::uint64_t fraction_ns = (fraction * 1'000'000'000) >> 32;
  return (seconds - kUnixEpochInNtpSeconds) * 1'000'000'000 + fraction_ns;
}

Result<std::uint64_t> NtpTimeProviderCore::now_ns() const {
  Result<Socket> sock = bind_any_ipv4();
  if (!sock.ok()) return sock.error();
  if (Status s = set_timeouts(*sock, timeout_ms); !s.ok()) return s.error();
  if (Status s = send_request(*sock, server, port); !s.ok()) return s.error();
  std::uint8_t reply[kSntpPacketSize];
  const ssize_t got = ::recv(sock->fd(), reply, sizeof reply, 0);
  if (got < 0) return Error::runtime("failed to receive NTP response: " + os_error(errno));
  return sntp_transmit_time_ns(reply, static_cast<std::size_t>(got));
}

}  // namespace tarnwick
