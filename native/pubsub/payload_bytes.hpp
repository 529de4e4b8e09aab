// An immutable, reference-counted byte string held in one allocation, so a
// published body is copied once and then shared by the retained queue, every
// polled copy and every stream record made from it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace tarnwick {

class PayloadBytes {
 public:
  PayloadBytes() = default;
  explicit PayloadBytes(std::string_view bytes) {
    void* memory = std::malloc(sizeof(Header) + bytes.size());
    if (memory == nullptr) throw std::bad_alloc();
    header_ = new (memory) Header{{1}, bytes.size()};
    if (!bytes.empty())
      std::memcpy(reinterpret_cast<char*>(header_ + 1), bytes.data(), bytes.size());
  }
  PayloadBytes(const PayloadBytes& o) noexcept : header_(o.header_) {
    if (header_ != nullptr) header_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  PayloadBytes(PayloadBytes&& o) noexcept : header_(std::exchange(o.header_, nullptr)) {}
  PayloadBytes& operator=(PayloadBytes o) noexcept {
    std::swap(header_, o.header_);
    return *this;
  }
  ~PayloadBytes() {
    if (header_ != nullptr && header_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      header_->~Header();
      std::free(header_);
    }
  }

  std::string_view view() const {
    if (header_ == nullptr) return {};
    return {reinterpret_cast<const char*>(header_ + 1), header_->size};
  }
  std::size_t size() const { return header_ == nullptr ? 0 : header_->size; }
  explicit operator bool() const { return header_ != nullptr; }

 private:
  struct Header {
    std::atomic<std::size_t> refs;
    std::size_t size;
  };
  Header* header_ = nullptr;
};

}  // namespace tarnwick
