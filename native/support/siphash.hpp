// SipHash-1-3: one compression round per block, three finalisation rounds.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwick {

// Incremental hasher; `write` may be called any number of times.
class SipHasher13 {
 public:
  SipHasher13(std::uint64_t k0 = 0, std::uint64_t k1 = 0);
  void write(std::string_view bytes);
  void write_u64_le(std::uint64_t v);
  void write_u32_le(std::uint32_t v);
  void write_u8(std::uint8_t v);
  std::uint64_t finish() const;

 private:
  void compress(std::uint64_t block);
  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t tail_ = 0;  // pending bytes, little-endian
  unsigned ntail_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace tarnwick
