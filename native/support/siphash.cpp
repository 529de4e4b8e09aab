#include "support/siphash.hpp"

#include <bit>

namespace tarnwick {
namespace {

inline void sip_round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2,
                      std::uint64_t& v3) {
  v0 += v1; v1 = std::rotl(v1, 13); v1 ^= v0; v0 = std::rotl(v0, 32);
  v2 += v3; v3 = std::rotl(v3, 16); v3 ^= v2;
  v0 += v3; v3 = std::rotl(v3, 21); v3 ^= v0;
  v2 += v1; v1 = std::rotl(v1, 17); v1 ^= v2; v2 = std::rotl(v2, 32);
}

}  // namespace

SipHasher13::SipHasher13(std::uint64_t k0, std::uint64_t k1)
    : v0_(k0 ^ 0x736f6d6570736575ULL),
      v1_(k1 ^ 0x646f72616e646f6dULL),
      v2_(k0 ^ 0x6c7967656e657261ULL),
      v3_(k1 ^ 0x7465646279746573ULL) {}

void SipHasher13::compress(std::uint64_t block) {
  v3_ ^= block;
  sip_round(v0_, v1_, v2_, v3_);
  v0_ ^= block;
}

void SipHasher13::write_u8(std::uint8_t v) {
  tail_ |= static_cast<std::uint64_t>(v) << (8 * ntail_);
  ++length_;
  if (++ntail_ == 8) {
    compress(tail_);
    tail_ = 0;
    ntail_ = 0;
  }
}

void SipHasher13::write(std::string_view bytes) {
  for (char c : bytes) write_u8(static_cast<std::uint8_t>(c));
}

void SipHasher13::write_u64_le(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) write_u8(static_cast<std::uint8_t>(v >> (8 * i)));
}

void SipHasher13::write_u32_le(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) write_u8(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint64_t SipHasher13::finish() const {
  std::uint64_t v0 = v0_, v1 = v1_, v2 = v2_, v3 = v3_;
  const std::uint64_t last = (length_ << 56) | tail_;
  v3 ^= last;
  sip_round(v0, v1, v2, v3);
  v0 ^= last;
  v2 ^= 0xff;
  for (int i = 0; i < 3; ++i) sip_round(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace tarnwick
