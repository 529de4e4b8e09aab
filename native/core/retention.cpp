#include "core/retention.hpp"

namespace tarnwick {

RetentionPolicyCore RetentionPolicyCore::for_route(Layer layer) {
  switch (layer) {
    case Layer::Internal:
      return {1, std::string(kLatestOnly), "memory", "latest", "separate_store"};
    case Layer::Ephemeral:
      return {1, std::string(kNoReplay), "memory", "none", "non_replayable"};
    case Layer::Bulk:
    case Layer::Raw:
    case Layer::Logical:
    case Layer::Shadow:
      break;
  }
  return {kDefaultBoundedHistory, std::string(kBoundedHistory), "memory",
          "last_" + std::to_string(kDefaultBoundedHistory),
          layer == Layer::Bulk ? "external_store" : "separate_store"};
}

std::optional<std::uint64_t> RetentionPolicyCore::effective_history_limit() const {
  if (latest_replay_policy == kBoundedHistory) return history_limit;
  if (latest_replay_policy == kLatestOnly) return 1;
  if (latest_replay_policy == kNoReplay) return 0;
  return std::nullopt;
}

}  // namespace tarnwick
