#include "core/envelope.hpp"

#include <chrono>
#include <cstring>

namespace tarnwick {

SharedBytes SharedBytes::copy_of(std::string_view bytes) {
  // Never a zero-length array, so that an empty body is still a body.
  std::shared_ptr<char[]> data = std::make_shared_for_overwrite<char[]>(bytes.size() + 1);
  bytes.copy(data.get(), bytes.size());
  SharedBytes out;
  out.data_ = std::move(data);
  out.size_ = bytes.size();
  return out;
}

StaticText in_memory_emitter() {
  static const std::string emitter = "runtime:in_memory";
  return &emitter;
}

SharedEnvelope with_taints(const ClosedEnvelopeCore& envelope, std::vector<TaintMarkCore> taints) {
  ClosedEnvelopeCore copy = envelope;
  copy.taints = std::move(taints);
  return seal(std::move(copy));
}

void append_zero_padded_20(std::string& out, std::uint64_t value) {
  char digits[20];
  int i = 20;
  while (value != 0) {  // most values are short; the rest is padding
    digits[--i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  while (i > 0) digits[--i] = '0';
  out.append(digits, sizeof digits);
}

std::string payload_identifier(std::string_view display, std::uint64_t seq) {
  std::string id;
  id.reserve(display.size() + 21);
  id.append(display).push_back(':');
  append_zero_padded_20(id, seq);
  return id;
}

std::optional<std::uint64_t> seq_of_payload_identifier(std::string_view display,
                                                       std::string_view identifier) {
  if (identifier.size() != display.size() + 21 || identifier[display.size()] != ':' ||
      identifier.substr(0, display.size()) != display) {
    return std::nullopt;
  }
  std::uint64_t seq = 0;
  for (char c : identifier.substr(display.size() + 1)) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (seq > (UINT64_MAX - digit) / 10) return std::nullopt;
    seq = seq * 10 + digit;
  }
  return seq;
}

std::uint64_t wall_clock_unix_ms() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count();
  return ms < 0 ? 0 : static_cast<std::uint64_t>(ms);
}

}  // namespace tarnwick
