// Payload references and sealed envelopes. Envelopes never change once
// built, so every holder shares one record: copying an envelope is sharing it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/refs.hpp"
#include "core/route.hpp"

namespace tarnwick {

// A payload body: copied once in (one allocation holds the bytes and the
// count), shared by every store entry that names it, copied again only when
// handed out. A default-made one holds no body at all, which is not the same
// as an empty body.
class SharedBytes {
 public:
  SharedBytes() = default;
  static SharedBytes copy_of(std::string_view bytes);

  explicit operator bool() const { return data_ != nullptr; }
  std::string_view view() const { return {data_.get(), size_}; }
  std::size_t size() const { return size_; }

 private:
  std::shared_ptr<const char[]> data_;
  std::size_t size_ = 0;
};

// Texts of a closed vocabulary (emitter, clock domain, credit class,
// capability lists) live in static storage for the life of the process, so
// envelopes carry them by pointer: no copy, no count. Never null.
using StaticText = const std::string*;
using StaticTexts = const std::vector<std::string>*;

inline constexpr std::string_view kIdentityCodec = "identity";

// "runtime:in_memory", the emitter of every envelope this system builds.
StaticText in_memory_emitter();

struct PayloadRefCore {
  std::string payload_id{};
  std::uint64_t logical_length_bytes = 0;
  std::string codec_id{};
  std::string inline_bytes{};  // stored as given; unrelated to the declared length
};

struct ClosedEnvelopeCore {
  RouteRefCore route;
  ProducerRefCore producer;
  StaticText emitter = nullptr;
  std::uint64_t seq_source = 0;
  std::uint64_t source_time_ms = 0;
  std::uint64_t ingest_time_ms = 0;
  StaticText clock_domain = nullptr;
  std::optional<std::string> causality_id{};
  std::optional<std::string> correlation_id{};
  std::optional<std::string> trace_id{};
  std::optional<std::uint64_t> control_epoch{};
  std::vector<TaintMarkCore> taints{};
  std::vector<ScheduleGuardCore> guards{};
  PayloadRefCore payload{};
  StaticText credit_class = nullptr;
  StaticTexts capabilities = nullptr;
};

// Never null where an envelope is expected; null stands for "no envelope".
using SharedEnvelope = std::shared_ptr<const ClosedEnvelopeCore>;

inline SharedEnvelope seal(ClosedEnvelopeCore envelope) {
  return std::make_shared<const ClosedEnvelopeCore>(std::move(envelope));
}

// A new envelope equal to `envelope` except for its taint list.
SharedEnvelope with_taints(const ClosedEnvelopeCore& envelope, std::vector<TaintMarkCore> taints);

struct OpenedEnvelopeCore {
  SharedEnvelope closed;
  SharedBytes payload;  // the body as it was when opened
};

// Appends `value` as 20 decimal digits, zero-padded on the left.
void append_zero_padded_20(std::string& out, std::uint64_t value);

// "{display}:{seq:020}": the identifier of a body stored by a write.
std::string payload_identifier(std::string_view display, std::uint64_t seq);

// The sequence number that `identifier` names when it is "{display}:{seq:020}".
std::optional<std::uint64_t> seq_of_payload_identifier(std::string_view display,
                                                       std::string_view identifier);

// Milliseconds since the Unix epoch by the wall clock; 0 before the epoch.
std::uint64_t wall_clock_unix_ms();

}  // namespace tarnwick
