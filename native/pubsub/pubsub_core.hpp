// The in-process publish/subscribe bus: one shared offset counter, one
// bounded queue of retained messages, and named pull cursors over it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.hpp"

namespace tarnwick {

// Payload bodies are immutable once published, so the queue, every polled
// copy and every stream record can share one buffer.
using PayloadBytes = std::shared_ptr<const std::string>;

inline PayloadBytes make_payload(std::string_view bytes) {
  return std::make_shared<const std::string>(bytes);
}

struct PubSubMessageCore {
  std::string topic;
  PayloadBytes payload;
  std::uint64_t offset = 0;

  std::string_view payload_view() const { return payload ? std::string_view(*payload) : ""; }
};

struct PubSubDeliveryCore {
  std::string topic;
  std::vector<std::string> delivered_to;
  std::uint64_t offset = 0;
};

struct PubSubSubscriptionCore {
  std::string name;
  std::string topic;
};

// The checks every message passes, in order: a non-blank topic, then a
// non-empty payload.
Status validate_pubsub_message(std::string_view topic, std::string_view payload);

// "retained_messages must be positive" for a zero bound.
Status validate_retained_messages(std::uint64_t retained_messages);

class InMemoryPubSubCore {
 public:
  // `retained_messages` must have passed validate_retained_messages.
  explicit InMemoryPubSubCore(std::uint64_t retained_messages);

  Result<PubSubDeliveryCore> publish(std::string topic, PayloadBytes payload);
  Result<PubSubSubscriptionCore> subscribe(std::string topic, std::optional<std::string> name,
                                           bool replay_from_beginning);
  Result<std::vector<PubSubMessageCore>> poll(std::string_view name,
                                              std::optional<std::uint64_t> max_messages);
  Result<bool> unsubscribe(std::string_view name);
  Result<std::optional<PubSubMessageCore>> latest(std::optional<std::string_view> topic) const;
  std::map<std::string, std::uint64_t> topic_offsets() const;

  std::size_t message_count() const { return messages_.size(); }
  std::size_t subscriber_count() const { return subscriptions_.size(); }
  std::uint64_t retained_messages() const { return retained_messages_; }

 private:
  struct SubscriberState {
    std::string topic;  // "*" receives every topic
    std::uint64_t cursor = 0;
  };

  std::deque<PubSubMessageCore> messages_;  // oldest first; offsets strictly increase
  std::map<std::string, SubscriberState, std::less<>> subscriptions_;  // byte order of names
  std::uint64_t retained_messages_;
  std::uint64_t next_offset_ = 0;
  std::uint64_t next_subscription_number_ = 1;
};

inline constexpr const char* kPubSubPoisoned = "pubsub mutex poisoned";

}  // namespace tarnwick
