// The write path: numbering, sealing and storing envelopes, and reading the
// latest one back.
#include <limits>

#include "core/graph_core.hpp"

namespace tarnwick {
namespace {

void attach_taints(std::vector<TaintMarkCore>& taints, const RouteRefCore& route,
                   const std::string& display, bool has_epoch) {
  if (route.plane() == Plane::Write && route.variant() == Variant::Request) {
    taints.push_back({TaintDomain::Coherence, "COHERENCE_WRITE_PENDING", display});
  }
  if (route.layer() == Layer::Ephemeral) {
    taints.push_back({TaintDomain::Determinism, "DET_NONREPLAYABLE", display});
  }
  if (has_epoch) taints.push_back({TaintDomain::Scheduling, "SCHED_READY", display});
}

std::optional<std::string> correlation_for(std::optional<std::uint64_t> epoch) {
  if (!epoch) return std::nullopt;
  std::string id = "control-epoch-";
  append_zero_padded_20(id, *epoch);
  return id;
}

}  // namespace

SharedEnvelope GraphCore::prepare_envelope(RouteSlot& slot, SharedBytes body, std::uint64_t length,
                                           ProducerRefCore producer,
                                           std::optional<std::uint64_t> epoch) {
  if (!slot.registered()) register_slot(slot);
  if (!slot.descriptor) throw InvariantFailure("registered route descriptor missing");
  std::uint64_t seq = 1;
  if (slot.latest) {
    if (slot.latest->seq_source == std::numeric_limits<std::uint64_t>::max()) {
      throw InvariantFailure("route sequence overflowed u64");
    }
    seq = slot.latest->seq_source + 1;
  }
  // The display text is made with the slot, so it cannot be missing here.
  const RouteRefCore& route = *slot.route;
  const std::uint64_t now_ms = wall_clock_unix_ms();
  // Built in place, field by field in declaration order.
  auto envelope = std::make_shared<ClosedEnvelopeCore>(
      route, std::move(producer), in_memory_emitter(), seq, now_ms, now_ms, slot.stamp.clock_domain,
      std::nullopt, correlation_for(epoch), std::nullopt, epoch, std::vector<TaintMarkCore>(),
      std::vector<ScheduleGuardCore>(),
      PayloadRefCore{payload_identifier(slot.display, seq), length, std::string(kIdentityCodec),
                     std::string()},
      slot.stamp.credit_class, slot.stamp.capabilities);
  attach_taints(envelope->taints, route, slot.display, epoch.has_value());
  store_body(slot, seq, std::move(body));
  return envelope;
}

SharedEnvelope GraphCore::prepare_direct_envelope_with_shared_payload(
    const RouteRefCore& route, SharedBytes body, std::uint64_t length, ProducerRefCore producer,
    std::optional<std::uint64_t> epoch) {
  return prepare_envelope(slot_for(route), std::move(body), length, std::move(producer), epoch);
}

void GraphCore::store_written_envelope(RouteSlot& slot, const SharedEnvelope& envelope) {
  const bool displaced_written = slot.latest_written;
  SharedEnvelope displaced = set_latest(slot, envelope, true);
  push_history(slot, envelope);
  append_write_audit(slot, envelope->producer.producer_id, envelope->seq_source);
  enforce_route_retention_limit(slot, retention_history_limit_for(slot));
  // Judged against the history as just trimmed.
  if (displaced) {
    if (displaced_written) {
      release_if_unheld(slot, displaced->seq_source);
    } else {
      forget_unretained_envelope(slot, *displaced);
    }
  }
}

SharedEnvelope GraphCore::direct_write(RouteSlot& slot, SharedBytes payload,
                                       ProducerRefCore producer,
                                       std::optional<std::uint64_t> epoch) {
  const std::uint64_t length = payload.size();
  SharedEnvelope envelope =
      prepare_envelope(slot, std::move(payload), length, std::move(producer), epoch);
  store_written_envelope(slot, envelope);
  return envelope;
}

SharedEnvelope GraphCore::direct_write(const RouteRefCore& route, SharedBytes payload,
                                       ProducerRefCore producer,
                                       std::optional<std::uint64_t> epoch) {
  return direct_write(slot_for(route), std::move(payload), std::move(producer), epoch);
}

std::vector<SharedEnvelope> GraphCore::write(const RouteRefCore& route, SharedBytes payload,
                                             ProducerRefCore producer,
                                             std::optional<std::uint64_t> epoch) {
  RouteSlot& slot = slot_for(route);
  SharedEnvelope envelope = direct_write(slot, std::move(payload), std::move(producer), epoch);
  if (slot.routed) return route_envelope(std::move(envelope), true);
  std::vector<SharedEnvelope> out;
  out.push_back(std::move(envelope));
  return out;
}

SharedEnvelope GraphCore::write_single_if_unrouted(const RouteRefCore& route, SharedBytes payload,
                                                   ProducerRefCore producer,
                                                   std::optional<std::uint64_t> epoch) {
  RouteSlot& slot = slot_for(route);
  if (slot.routed) return nullptr;
  return direct_write(slot, std::move(payload), std::move(producer), epoch);
}

std::vector<SharedEnvelope> GraphCore::route_envelope(SharedEnvelope envelope, bool /*forward*/) {
  // The request mirror, connection forwarding and mailbox delivery append
  // their envelopes here; no route is routed until those exist.
  std::vector<SharedEnvelope> out;
  out.push_back(std::move(envelope));
  return out;
}

void GraphCore::replace_latest(SharedEnvelope envelope) {
  RouteSlot& slot = slot_for(envelope->route);
  set_latest(slot, std::move(envelope), false);
}

std::optional<OpenedEnvelopeCore> GraphCore::open_latest(const RouteRefCore& route) {
  auto it = slots_.find(route);
  if (it == slots_.end() || !it->second.latest) return std::nullopt;
  RouteSlot& slot = it->second;
  const SharedBytes* body = stored_body(slot, slot.latest->payload.payload_id);
  if (body == nullptr) return std::nullopt;
  OpenedEnvelopeCore opened{slot.latest, *body};
  audit_payload_open(slot, slot.latest->seq_source, slot.latest->payload.payload_id);
  return opened;
}

}  // namespace tarnwick
