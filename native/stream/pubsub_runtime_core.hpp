// A bus, a stream store and an observability store in one runtime: publishes
// go to the bus with metrics; a drain feeds them into the store, decoding
// the fields of registered FlatBuffer pads into columns.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "observability/observability_core.hpp"
#include "pubsub/pubsub_core.hpp"
#include "stream/flatbuffer_decoder.hpp"
#include "stream/stream_store.hpp"
#include "support/result.hpp"

namespace tarnwick {

struct PendingMetadata {
  std::optional<std::string> pad_name;
  std::optional<std::int64_t> event_time;
  std::optional<std::string> key;

  bool empty() const { return !pad_name && !event_time && !key; }
};

class PubSubRuntimeCore {
 public:
  static constexpr std::uint64_t kDefaultRetainedMessages = 1024;

  static Result<PubSubRuntimeCore> make(std::string name, std::uint64_t retained_messages);

  Result<PubSubDeliveryCore> publish(std::string topic, PayloadBytes payload,
                                     PendingMetadata metadata);
  // Every message published since the last drain, stored in offset order.
  Result<std::vector<DataStreamRecordCore>> drain();
  Status register_flatbuffer_pad(std::string pad_name, FlatBufferTableCore table);

  const std::shared_ptr<StreamState>& processor() const { return processor_; }
  const ObservabilityRuntimeCore& observability() const { return observability_; }
  const std::string& processor_subscription() const { return processor_subscription_; }

 private:
  PubSubRuntimeCore(InMemoryPubSubCore bus, ObservabilityRuntimeCore observability,
                    std::string processor_subscription, std::shared_ptr<StreamState> processor)
      : bus_(std::move(bus)),
        observability_(std::move(observability)),
        processor_subscription_(std::move(processor_subscription)),
        processor_(std::move(processor)) {}

  Result<std::vector<DataStreamRecordCore>> store_batch(StreamStore& store,
                                                        std::vector<PubSubMessageCore>& polled);

  InMemoryPubSubCore bus_;
  ObservabilityRuntimeCore observability_;
  std::string processor_subscription_;
  std::shared_ptr<StreamState> processor_;
  // Keyed by offset alone: offsets are unique across the topics of one bus.
  std::map<std::uint64_t, PendingMetadata> pending_;
  std::map<std::string, FlatBufferTableCore, std::less<>> pads_;
};

}  // namespace tarnwick
