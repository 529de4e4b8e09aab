// Per-write bookkeeping (audit lists, history trimming, release of bodies)
// and the retention configuration and views built on it.
#include <algorithm>
#include <set>
#include <unordered_set>

#include "core/graph_core.hpp"

namespace tarnwick {
namespace {

struct AuditBounds {
  std::optional<std::uint64_t> oldest;  // front of the replay history
  std::optional<std::uint64_t> latest;
};

AuditBounds audit_bounds(const RouteSlot& slot) {
  AuditBounds bounds;
  if (slot.history && !slot.history->empty()) bounds.oldest = slot.history->front()->seq_source;
  if (slot.latest) bounds.latest = slot.latest->seq_source;
  return bounds;
}

// An event names an envelope the route no longer holds.
bool audit_event_expired(const AuditEventCore& event, const AuditBounds& bounds) {
  if (!event.seq_source) return false;
  const std::uint64_t s = *event.seq_source;
  if (bounds.latest && s == *bounds.latest) return false;
  return !(bounds.oldest && s >= *bounds.oldest);
}

}  // namespace

void GraphCore::record_audit(RouteSlot& slot, std::string_view action, std::string_view actor,
                             std::uint64_t seq, std::optional<std::string> detail) {
  if (!slot.audit) slot.audit.emplace();
  auto& events = *slot.audit;
  auto it = std::find_if(events.begin(), events.end(), [&](const AuditEventCore& e) {
    return e.action == action && e.actor == actor;
  });
  if (it != events.end()) {
    it->seq_source = seq;
    it->detail = std::move(detail);
  } else {
    events.push_back(
        {seq, *slot.route, std::string(action), std::string(actor), std::move(detail)});
  }
  if (events.size() > 1) enforce_route_audit_retention(slot);
}

void GraphCore::append_write_audit(RouteSlot& slot, std::string_view actor, std::uint64_t seq) {
  record_audit(slot, kWriteAction, actor, seq, std::nullopt);
}

void GraphCore::audit_payload_open(RouteSlot& slot, std::uint64_t seq,
                                   std::string_view payload_id) {
  record_audit(slot, kPayloadOpenAction, kReaderActor, seq, std::string(payload_id));
}

std::optional<std::uint64_t> GraphCore::retention_history_limit_for(const RouteSlot& slot) const {
  if (slot.policy) return slot.history_limit;
  return RetentionPolicyCore::for_route(slot.route->layer()).effective_history_limit();
}

void GraphCore::enforce_route_retention_limit(RouteSlot& slot, std::optional<std::uint64_t> limit) {
  if (limit) {
    while (slot.history && slot.history->size() > *limit) {
      const SharedEnvelope oldest = pop_history_front(slot);
      release_if_unheld(slot, oldest->seq_source);
    }
  }
  if (slot.audit && slot.audit->size() >= 2) enforce_route_audit_retention(slot);
}

void GraphCore::enforce_route_audit_retention(RouteSlot& slot) {
  if (!slot.audit) return;
  const AuditBounds bounds = audit_bounds(slot);
  std::erase_if(*slot.audit,
                [&](const AuditEventCore& e) { return audit_event_expired(e, bounds); });
  if (slot.audit->empty()) slot.audit.reset();
}

void GraphCore::forget_unretained_envelope(RouteSlot& slot, const ClosedEnvelopeCore& envelope) {
  // An identifier that names none of the route's bodies has nothing to drop.
  if (const auto seq = seq_of_payload_identifier(slot.display, envelope.payload.payload_id)) {
    release_if_unheld(slot, *seq);
  }
}

// ---- configuration ---------------------------------------------------------------

RetentionPolicyCore GraphCore::configure_retention(const RouteRefCore& route,
                                                   RetentionPolicyCore policy) {
  RouteSlot& slot = slot_for(route);
  register_slot(slot);
  if (policy.latest_replay_policy == kBoundedHistory && !policy.history_limit) {
    policy.history_limit = kDefaultBoundedHistory;
  }
  RetentionBlockCore& block = slot.descriptor->retention;
  block.latest_replay_policy = policy.latest_replay_policy;
  block.durability_class = policy.durability_class;
  block.replay_window = policy.replay_window;
  block.payload_retention_policy = policy.payload_retention_policy;
  const std::optional<std::uint64_t> limit = policy.effective_history_limit();
  slot.history_limit = limit;
  slot.policy = policy;
  enforce_route_retention_limit(slot, limit);
  return policy;
}

// ---- views ---------------------------------------------------------------------

std::uint64_t GraphCore::retained_payload_count(const RouteRefCore& route) const {
  const RouteSlot* slot = find_slot(route);
  if (slot == nullptr) return 0;
  // A body is named by the route's latest or history exactly when it has holders.
  return static_cast<std::uint64_t>(std::count_if(
      slot->bodies.begin(), slot->bodies.end(), [](const StoredBody& b) { return b.holders > 0; }));
}

RetentionSnapshotCore GraphCore::snapshot_of(const RouteRefCore& route,
                                             const RouteSlot* slot) const {
  RetentionSnapshotCore snapshot;
  if (slot == nullptr) {
    snapshot.history_limit =
        RetentionPolicyCore::for_route(route.layer()).effective_history_limit();
    snapshot.route_display = route.display();
    return snapshot;
  }
  // The snapshot reads the policy itself, not the stored limit.
  snapshot.history_limit =
      slot->policy ? slot->policy->effective_history_limit()
                   : RetentionPolicyCore::for_route(route.layer()).effective_history_limit();
  snapshot.route_display = slot->display;
  if (slot->latest) {
    snapshot.latest_seq_source = slot->latest->seq_source;
    snapshot.metadata_event_count = slot->latest->seq_source;
  }
  snapshot.replay_count = slot->history ? slot->history->size() : 0;
  snapshot.payload_count = retained_payload_count(route);
  return snapshot;
}

RetentionSnapshotCore GraphCore::retention_snapshot(const RouteRefCore& route) const {
  return snapshot_of(route, find_slot(route));
}

std::vector<RetentionSnapshotCore> GraphCore::retention_snapshots() const {
  std::vector<const RouteSlot*> registered;
  for (const auto& [route, slot] : slots_) {
    if (slot.registered()) registered.push_back(&slot);
  }
  std::sort(registered.begin(), registered.end(),
            [](const RouteSlot* a, const RouteSlot* b) { return a->display < b->display; });
  std::vector<RetentionSnapshotCore> out;
  out.reserve(registered.size());
  for (const RouteSlot* slot : registered) out.push_back(snapshot_of(*slot->route, slot));
  return out;
}

std::vector<std::string> GraphCore::retention_violations() const {
  std::unordered_set<std::string_view> retained;
  std::vector<std::string> messages;
  for (const auto& [route, slot] : slots_) {
    const bool known =
        slot.registered() || slot.latest || slot.history || slot.audit || slot.policy;
    if (!known) continue;
    const RetentionPolicyCore default_policy = RetentionPolicyCore::for_route(route.layer());
    const RetentionPolicyCore& policy = slot.policy ? *slot.policy : default_policy;
    if (slot.history) {
      const std::uint64_t length = slot.history->size();
      if (const auto limit = policy.effective_history_limit(); limit && length > *limit) {
        messages.push_back(slot.display + " replay retained " + std::to_string(length) +
                           " events beyond limit " + std::to_string(*limit));
      }
      for (const SharedEnvelope& e : *slot.history) retained.insert(e->payload.payload_id);
    }
    if (slot.latest) retained.insert(slot.latest->payload.payload_id);
    if (slot.audit) {
      const AuditBounds bounds = audit_bounds(slot);
      for (const AuditEventCore& event : *slot.audit) {
        if (audit_event_expired(event, bounds)) {
          messages.push_back(slot.display + " audit retained expired seq_source " +
                             std::to_string(*event.seq_source));
        }
      }
    }
  }
  // The store as a map by identifier: equal identifiers of two routes are one.
  std::set<std::string> stored;
  for (const auto& [route, slot] : slots_) {
    for (const StoredBody& body : slot.bodies)
      stored.insert(payload_identifier(slot.display, body.seq));
  }
  for (const std::string& id : stored) {
    if (!retained.contains(id))
      messages.push_back("payload " + id + " is not retained by latest/history");
  }
  std::stable_sort(messages.begin(), messages.end());
  return messages;
}

}  // namespace tarnwick
