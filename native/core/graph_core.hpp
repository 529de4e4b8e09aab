// The state behind a Graph: one slot per route interned on first use, holding
// everything the graph keeps for that route. The graph's named containers
// (ports, latest envelopes, replay histories, audit lists, policies, limits,
// payload store, routed routes) are views over these slots.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/envelope.hpp"
#include "core/graph_query.hpp"
#include "core/port_descriptor.hpp"
#include "core/retention.hpp"
#include "core/route.hpp"
#include "support/guarded.hpp"

namespace tarnwick {

// A body kept for one write of a route. Keyed by route and sequence number,
// not by identifier text, so that two routes with equal display texts keep
// their bodies apart; `stamp` orders writes across routes. `holders` counts
// the envelopes of the route's latest and history that name the body, so
// that releasing it never has to scan the history.
struct StoredBody {
  std::uint64_t seq;
  std::uint64_t stamp;
  std::uint64_t holders;
  SharedBytes body;
};

// Everything the graph keeps for one route. Fields a write touches come
// first; the descriptor lives out of line to keep slots small.
struct RouteSlot {
  const RouteRefCore* route = nullptr;  // the slot's key in the graph's map
  bool routed = false;                  // writes go through route_envelope
  // The latest came from a write, so its identifier names one of `bodies`
  // (a control-loop tick stores one that names none).
  bool latest_written = false;
  SharedEnvelope latest;
  std::optional<std::deque<SharedEnvelope>> history;  // oldest first; kept once created
  std::vector<StoredBody> bodies;                     // ascending by seq
  std::optional<std::vector<AuditEventCore>> audit;   // removed when trimming empties it
  std::optional<std::uint64_t> history_limit;         // effective limit of `policy`
  std::string display;                                // computed once, when the slot is made
  EnvelopeStamp stamp{};                              // set with the descriptor
  std::unique_ptr<PortDescriptorCore> descriptor;     // set exactly when registered
  std::optional<RetentionPolicyCore> policy;          // absent: the layer default applies

  bool registered() const { return descriptor != nullptr; }
};

// Mixes a per-map random seed into the route's precomputed hash, so no
// result can come to depend on iteration order.
struct SeededRouteHash {
  std::uint64_t seed;
  std::size_t operator()(const RouteRefCore& route) const noexcept;
};

struct SeededTextHash {
  std::uint64_t seed;
  std::size_t operator()(const std::string& text) const noexcept;
};

class GraphCore {
 public:
  GraphCore();
  GraphCore(const GraphCore&) = delete;
  GraphCore& operator=(const GraphCore&) = delete;

  // ---- port registry ------------------------------------------------------
  RouteRefCore register_port(const RouteRefCore& route);
  // The registered descriptor, or the route's default one.
  PortDescriptorCore describe_port(const RouteRefCore& route) const;

  // ---- writes -------------------------------------------------------------
  std::vector<SharedEnvelope> write(const RouteRefCore& route, SharedBytes payload,
                                    ProducerRefCore producer, std::optional<std::uint64_t> epoch);
  SharedEnvelope direct_write(const RouteRefCore& route, SharedBytes payload,
                              ProducerRefCore producer, std::optional<std::uint64_t> epoch);
  SharedEnvelope direct_write(RouteSlot& slot, SharedBytes payload, ProducerRefCore producer,
                              std::optional<std::uint64_t> epoch);
  // Null when the route is routed; nothing is written then.
  SharedEnvelope write_single_if_unrouted(const RouteRefCore& route, SharedBytes payload,
                                          ProducerRefCore producer,
                                          std::optional<std::uint64_t> epoch);
  // Numbers, tags and seals an envelope and stores its body; not yet latest.
  SharedEnvelope prepare_direct_envelope_with_shared_payload(const RouteRefCore& route,
                                                             SharedBytes body, std::uint64_t length,
                                                             ProducerRefCore producer,
                                                             std::optional<std::uint64_t> epoch);
  std::vector<SharedEnvelope> route_envelope(SharedEnvelope envelope, bool forward);
  // Makes `envelope` its route's latest with no bookkeeping and no
  // registration; the displaced latest is dropped.
  void replace_latest(SharedEnvelope envelope);

  // ---- reads --------------------------------------------------------------
  std::optional<OpenedEnvelopeCore> open_latest(const RouteRefCore& route);
  SharedBytes payload_by_id(std::string_view payload_id) const;  // holds none: unknown
  std::string payload_bytes_for(const ClosedEnvelopeCore& envelope) const;
  QueryResultCore query(const QueryRequestCore& request) const;

  bool is_routed(const RouteRefCore& route) const;
  std::vector<RouteRefCore> routed_routes() const;  // by display text

  // ---- retention configuration and views --------------------------------
  RetentionPolicyCore configure_retention(const RouteRefCore& route, RetentionPolicyCore policy);
  std::uint64_t retained_payload_count(const RouteRefCore& route) const;
  RetentionSnapshotCore retention_snapshot(const RouteRefCore& route) const;
  std::vector<RetentionSnapshotCore> retention_snapshots() const;  // registered, by display
  std::vector<std::string> retention_violations() const;

  // ---- slots and the per-write bookkeeping -------------------------------
  const RouteSlot* find_slot(const RouteRefCore& route) const;
  RouteSlot& slot_for(const RouteRefCore& route);  // interns the route on first use
  void register_slot(RouteSlot& slot);
  SharedEnvelope prepare_envelope(RouteSlot& slot, SharedBytes body, std::uint64_t length,
                                  ProducerRefCore producer, std::optional<std::uint64_t> epoch);
  // Latest, history, audit, trimming and release of the displaced body, in
  // that fixed order.
  void store_written_envelope(RouteSlot& slot, const SharedEnvelope& envelope);

  // Every change of a route's latest or history goes through these three,
  // which keep the holder counts of its bodies.
  SharedEnvelope set_latest(RouteSlot& slot, SharedEnvelope envelope, bool written);
  void push_history(RouteSlot& slot, SharedEnvelope envelope);
  SharedEnvelope pop_history_front(RouteSlot& slot);

  void append_write_audit(RouteSlot& slot, std::string_view actor, std::uint64_t seq);
  void audit_payload_open(RouteSlot& slot, std::uint64_t seq, std::string_view payload_id);
  std::optional<std::uint64_t> retention_history_limit_for(const RouteSlot& slot) const;
  void enforce_route_retention_limit(RouteSlot& slot, std::optional<std::uint64_t> limit);
  void enforce_route_audit_retention(RouteSlot& slot);
  void forget_unretained_envelope(RouteSlot& slot, const ClosedEnvelopeCore& envelope);

  // The body this route stores under `payload_id`, or null.
  const SharedBytes* stored_body(const RouteSlot& slot, std::string_view payload_id) const;

 private:
  void store_body(RouteSlot& slot, std::uint64_t seq, SharedBytes body);
  StoredBody* find_body(RouteSlot& slot, std::uint64_t seq);
  void adjust_holders(RouteSlot& slot, std::uint64_t seq, int change);
  // Drops the body of `seq` unless an envelope of the route still names it.
  void release_if_unheld(RouteSlot& slot, std::uint64_t seq);
  void record_audit(RouteSlot& slot, std::string_view action, std::string_view actor,
                    std::uint64_t seq, std::optional<std::string> detail);
  RetentionSnapshotCore snapshot_of(const RouteRefCore& route, const RouteSlot* slot) const;

  // Slots never move once made: node-based maps keep their addresses.
  std::unordered_map<RouteRefCore, RouteSlot, SeededRouteHash> slots_;
  std::unordered_map<std::string, std::vector<RouteSlot*>, SeededTextHash> slots_by_display_;
  std::uint64_t body_stamp_ = 0;
};

inline constexpr const char* kGraphPoisoned = "graph mutex poisoned";

using GraphState = Guarded<GraphCore>;

inline std::shared_ptr<GraphState> make_graph_state() {
  return std::make_shared<GraphState>(kGraphPoisoned);
}

}  // namespace tarnwick
