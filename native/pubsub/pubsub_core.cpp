#include "pubsub/pubsub_core.hpp"

#include <algorithm>
#include <limits>

#include "support/text.hpp"

namespace tarnwick {
namespace {

constexpr std::string_view kTopicLabel = "pubsub topic";
constexpr std::string_view kSubscriptionLabel = "pubsub subscription name";
constexpr std::string_view kWildcard = "*";

bool matches(std::string_view subscribed, std::string_view topic) {
  return subscribed == kWildcard || subscribed == topic;
}

}  // namespace

Status validate_pubsub_message(std::string_view topic, std::string_view payload) {
  if (auto s = validate_nonblank_text(kTopicLabel, topic); !s.ok()) return s;
  if (payload.empty()) return Error::value("pubsub payload must be non-empty bytes");
  return {};
}

Status validate_retained_messages(std::uint64_t retained_messages) {
  if (retained_messages == 0) return Error::value("retained_messages must be positive");
  return {};
}

InMemoryPubSubCore::InMemoryPubSubCore(std::uint64_t retained_messages)
    : retained_messages_(retained_messages) {
  if (retained_messages == 0) throw InvariantFailure("pub/sub retention bound of zero");
}

Result<PubSubDeliveryCore> InMemoryPubSubCore::publish(std::string topic, PayloadBytes payload) {
  if (auto s = validate_pubsub_message(topic, payload ? std::string_view(*payload) : "");
      !s.ok()) {
    return s.error();
  }
  if (next_offset_ == std::numeric_limits<std::uint64_t>::max()) {
    throw InvariantFailure("pub/sub offset counter at its maximum");
  }
  const std::uint64_t offset = next_offset_++;
  PubSubDeliveryCore delivery{topic, {}, offset};
  for (const auto& [name, sub] : subscriptions_) {
    if (matches(sub.topic, topic)) delivery.delivered_to.push_back(name);
  }
  messages_.push_back({std::move(topic), std::move(payload), offset});
  while (messages_.size() > retained_messages_) messages_.pop_front();
  return delivery;
}

Result<PubSubSubscriptionCore> InMemoryPubSubCore::subscribe(std::string topic,
                                                             std::optional<std::string> name,
                                                             bool replay_from_beginning) {
  if (auto s = validate_nonblank_text(kTopicLabel, topic); !s.ok()) return s.error();
  std::string chosen;
  if (name) {
    if (auto s = validate_nonblank_text(kSubscriptionLabel, *name); !s.ok()) return s.error();
    chosen = std::move(*name);
  } else {
    // The number is used up even when the generated name turns out taken.
    chosen = "subscription-" + std::to_string(next_subscription_number_++);
  }
  if (subscriptions_.contains(chosen)) {
    return Error::value("duplicate subscription name: " + chosen);
  }
  const std::uint64_t cursor =
      replay_from_beginning && !messages_.empty() ? messages_.front().offset : next_offset_;
  subscriptions_.emplace(chosen, SubscriberState{topic, cursor});
  return PubSubSubscriptionCore{std::move(chosen), std::move(topic)};
}

Result<std::vector<PubSubMessageCore>> InMemoryPubSubCore::poll(
    std::string_view name, std::optional<std::uint64_t> max_messages) {
  if (auto s = validate_nonblank_text(kSubscriptionLabel, name); !s.ok()) return s.error();
  auto it = subscriptions_.find(name);
  if (it == subscriptions_.end()) {
    return Error::value("unknown subscription: " + std::string(name));
  }
  if (max_messages && *max_messages == 0) {
    return Error::value("max_messages must be positive when provided");
  }
  SubscriberState& sub = it->second;
  const std::uint64_t limit = max_messages.value_or(std::numeric_limits<std::uint64_t>::max());
  std::vector<PubSubMessageCore> out;
  // Offsets increase along the queue, so the first unseen message is found by bisection.
  auto pos = std::lower_bound(
      messages_.begin(), messages_.end(), sub.cursor,
      [](const PubSubMessageCore& m, std::uint64_t cursor) { return m.offset < cursor; });
  for (; pos != messages_.end() && out.size() < limit; ++pos) {
    if (!matches(sub.topic, pos->topic)) continue;
    out.push_back(*pos);
    sub.cursor = pos->offset + 1;
  }
  return out;
}

Result<bool> InMemoryPubSubCore::unsubscribe(std::string_view name) {
  if (auto s = validate_nonblank_text(kSubscriptionLabel, name); !s.ok()) return s.error();
  auto it = subscriptions_.find(name);
  if (it == subscriptions_.end()) return false;
  subscriptions_.erase(it);
  return true;
}

Result<std::optional<PubSubMessageCore>> InMemoryPubSubCore::latest(
    std::optional<std::string_view> topic) const {
  if (topic) {
    if (auto s = validate_nonblank_text(kTopicLabel, *topic); !s.ok()) return s.error();
  }
  const bool any = !topic || *topic == kWildcard;
  for (auto it = messages_.rbegin(); it != messages_.rend(); ++it) {
    if (any || it->topic == *topic) return std::optional<PubSubMessageCore>(*it);
  }
  return std::optional<PubSubMessageCore>();
}

std::map<std::string, std::uint64_t> InMemoryPubSubCore::topic_offsets() const {
  std::map<std::string, std::uint64_t> out;
  for (const auto& m : messages_) out.insert_or_assign(m.topic, m.offset);
  return out;
}

}  // namespace tarnwick
