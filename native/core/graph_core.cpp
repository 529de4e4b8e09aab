#include "core/graph_core.hpp"

#include <algorithm>
#include <functional>
#include <random>

namespace tarnwick {
namespace {

std::uint64_t random_seed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

std::uint64_t mix(std::uint64_t x) {
  x *= 0x9E3779B97F4A7C15ULL;
  return x ^ (x >> 29);
}

template <class Bodies>
auto body_position(Bodies& bodies, std::uint64_t seq) {
  return std::lower_bound(bodies.begin(), bodies.end(), seq,
                          [](const StoredBody& b, std::uint64_t s) { return b.seq < s; });
}

}  // namespace

std::size_t SeededRouteHash::operator()(const RouteRefCore& route) const noexcept {
  return static_cast<std::size_t>(mix(static_cast<std::uint64_t>(route.stable_hash()) ^ seed));
}

std::size_t SeededTextHash::operator()(const std::string& text) const noexcept {
  return static_cast<std::size_t>(mix(std::hash<std::string>{}(text) ^ seed));
}

GraphCore::GraphCore()
    : slots_(16, SeededRouteHash{random_seed()}),
      slots_by_display_(16, SeededTextHash{random_seed()}) {}

const RouteSlot* GraphCore::find_slot(const RouteRefCore& route) const {
  const auto it = slots_.find(route);
  return it == slots_.end() ? nullptr : &it->second;
}

RouteSlot& GraphCore::slot_for(const RouteRefCore& route) {
  if (auto it = slots_.find(route); it != slots_.end()) return it->second;
  auto [pos, inserted] = slots_.try_emplace(route);
  RouteSlot& slot = pos->second;
  slot.route = &pos->first;
  slot.display = route.display();
  slots_by_display_[slot.display].push_back(&slot);
  return slot;
}

void GraphCore::register_slot(RouteSlot& slot) {
  const RouteRefCore& route = *slot.route;
  if (auto rules = check_route_rules(route.plane(), route.layer(), route.variant()); !rules) {
    throw InvariantFailure("invalid route registered: " + rules.error().message);
  }
  if (!slot.descriptor) {
    slot.descriptor = std::make_unique<PortDescriptorCore>(PortDescriptorCore::for_route(route));
    slot.stamp = EnvelopeStamp::for_route(route);
  }
  if (!slot.policy) {
    RetentionPolicyCore policy = RetentionPolicyCore::for_route(route.layer());
    slot.history_limit = policy.effective_history_limit();
    slot.policy = std::move(policy);
  }
}

RouteRefCore GraphCore::register_port(const RouteRefCore& route) {
  register_slot(slot_for(route));
  return route;
}

PortDescriptorCore GraphCore::describe_port(const RouteRefCore& route) const {
  const RouteSlot* slot = find_slot(route);
  if (slot != nullptr && slot->descriptor) return *slot->descriptor;
  return PortDescriptorCore::for_route(route);
}

bool GraphCore::is_routed(const RouteRefCore& route) const {
  const RouteSlot* slot = find_slot(route);
  return slot != nullptr && slot->routed;
}

std::vector<RouteRefCore> GraphCore::routed_routes() const {
  std::vector<const RouteSlot*> routed;
  for (const auto& [route, slot] : slots_) {
    if (slot.routed) routed.push_back(&slot);
  }
  std::stable_sort(routed.begin(), routed.end(),
                   [](const RouteSlot* a, const RouteSlot* b) { return a->display < b->display; });
  std::vector<RouteRefCore> out;
  out.reserve(routed.size());
  for (const RouteSlot* slot : routed) out.push_back(*slot->route);
  return out;
}

// ---- the payload store ---------------------------------------------------------

void GraphCore::store_body(RouteSlot& slot, std::uint64_t seq, SharedBytes body) {
  const std::uint64_t stamp = ++body_stamp_;
  auto& bodies = slot.bodies;
  if (bodies.empty() || bodies.back().seq < seq) {
    bodies.push_back({seq, stamp, 0, std::move(body)});
    return;
  }
  auto pos = body_position(bodies, seq);
  if (pos != bodies.end() && pos->seq == seq) {
    // Envelopes naming the identifier keep naming it; only the bytes change.
    pos->stamp = stamp;
    pos->body = std::move(body);
  } else {
    bodies.insert(pos, {seq, stamp, 0, std::move(body)});
  }
}

StoredBody* GraphCore::find_body(RouteSlot& slot, std::uint64_t seq) {
  auto& bodies = slot.bodies;
  if (bodies.empty() || seq < bodies.front().seq) return nullptr;
  // Sequence numbers of a route are mostly consecutive: try the direct spot.
  const std::uint64_t offset = seq - bodies.front().seq;
  if (offset < bodies.size() && bodies[offset].seq == seq) return &bodies[offset];
  const auto pos = body_position(bodies, seq);
  return pos != bodies.end() && pos->seq == seq ? &*pos : nullptr;
}

void GraphCore::adjust_holders(RouteSlot& slot, std::uint64_t seq, int change) {
  StoredBody* body = find_body(slot, seq);
  if (body == nullptr) throw InvariantFailure("held payload body missing");
  body->holders += static_cast<std::uint64_t>(static_cast<std::int64_t>(change));
}

void GraphCore::release_if_unheld(RouteSlot& slot, std::uint64_t seq) {
  StoredBody* body = find_body(slot, seq);
  if (body != nullptr && body->holders == 0) {
    slot.bodies.erase(slot.bodies.begin() + (body - slot.bodies.data()));
  }
}

SharedEnvelope GraphCore::set_latest(RouteSlot& slot, SharedEnvelope envelope, bool written) {
  if (written) adjust_holders(slot, envelope->seq_source, 1);
  SharedEnvelope displaced = std::exchange(slot.latest, std::move(envelope));
  if (displaced && slot.latest_written) adjust_holders(slot, displaced->seq_source, -1);
  slot.latest_written = written;
  return displaced;
}

void GraphCore::push_history(RouteSlot& slot, SharedEnvelope envelope) {
  // Only writes enter a history, so every entry names one of the bodies.
  adjust_holders(slot, envelope->seq_source, 1);
  if (!slot.history) slot.history.emplace();
  slot.history->push_back(std::move(envelope));
}

SharedEnvelope GraphCore::pop_history_front(RouteSlot& slot) {
  SharedEnvelope oldest = std::move(slot.history->front());
  slot.history->pop_front();
  adjust_holders(slot, oldest->seq_source, -1);
  return oldest;
}

const SharedBytes* GraphCore::stored_body(const RouteSlot& slot,
                                          std::string_view payload_id) const {
  const auto seq = seq_of_payload_identifier(slot.display, payload_id);
  if (!seq) return nullptr;
  const auto& bodies = slot.bodies;
  const auto pos = body_position(bodies, *seq);
  return pos != bodies.end() && pos->seq == *seq ? &pos->body : nullptr;
}

SharedBytes GraphCore::payload_by_id(std::string_view payload_id) const {
  const auto colon = payload_id.rfind(':');
  if (colon == std::string_view::npos) return {};
  const std::string_view display = payload_id.substr(0, colon);
  const auto seq = seq_of_payload_identifier(display, payload_id);
  if (!seq) return {};
  const auto candidates = slots_by_display_.find(std::string(display));
  if (candidates == slots_by_display_.end()) return {};
  // Routes sharing a display text share identifiers; the latest write wins.
  const StoredBody* newest = nullptr;
  for (const RouteSlot* slot : candidates->second) {
    const auto pos = body_position(slot->bodies, *seq);
    if (pos != slot->bodies.end() && pos->seq == *seq && (!newest || pos->stamp > newest->stamp)) {
      newest = &*pos;
    }
  }
  return newest ? newest->body : SharedBytes();
}

std::string GraphCore::payload_bytes_for(const ClosedEnvelopeCore& envelope) const {
  if (const RouteSlot* slot = find_slot(envelope.route)) {
    if (const SharedBytes* body = stored_body(*slot, envelope.payload.payload_id))
      return std::string(body->view());
  }
  return envelope.payload.inline_bytes;
}

}  // namespace tarnwick
