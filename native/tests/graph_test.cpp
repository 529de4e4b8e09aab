#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "core/graph_core.hpp"
#include "core/port_descriptor.hpp"
#include "core/retention.hpp"

namespace tarnwick {
namespace {

RouteRefCore route(Plane plane, Layer layer, Variant variant, std::string owner = "imu",
                   std::string schema_id = "imu.accel") {
  return RouteRefCore::make({plane, layer, std::move(owner)}, "accel", "x", variant,
                            {std::move(schema_id), 1})
      .value();
}

RouteRefCore raw_route() { return route(Plane::Read, Layer::Raw, Variant::Payload); }

SharedBytes bytes(std::string_view text) { return SharedBytes::copy_of(text); }

ProducerRefCore producer(std::string id) { return {std::move(id), ProducerKind::Device}; }

// A variant each plane admits, with Request on the write plane kept off Shadow.
Variant variant_for(Plane plane, Layer layer) {
  switch (plane) {
    case Plane::Read:
      return Variant::Payload;
    case Plane::Write:
      return layer == Layer::Shadow ? Variant::Desired : Variant::Request;
    case Plane::State:
      return Variant::State;
    case Plane::Query:
      return Variant::QueryRequest;
    case Plane::Debug:
      return Variant::Event;
  }
  return Variant::Meta;
}

struct DecisionRow {
  Plane plane;
  Layer layer;
  ProducerKind producer_kind;
  const char* payload_open;
  const char* clock_domain;
  const char* timestamp_source;
  const char* watermark;
  const char* late_data;
  const char* expiry;
  const char* credit_class;
};

std::vector<DecisionRow> decision_table() {
  using P = Plane;
  using L = Layer;
  using K = ProducerKind;
  std::vector<DecisionRow> rows;
  const std::tuple<P, K> planes[] = {{P::Read, K::Application},
                                     {P::Write, K::Application},
                                     {P::State, K::Application},
                                     {P::Query, K::QueryService},
                                     {P::Debug, K::QueryService}};
  for (const auto& [plane, base_kind] : planes) {
    const bool write = plane == P::Write;
    for (L layer : {L::Raw, L::Logical, L::Shadow, L::Bulk, L::Internal, L::Ephemeral}) {
      if (layer == L::Shadow && !write) continue;
      K kind = base_kind;
      if (layer == L::Internal) kind = K::Mailbox;
      if (plane == P::Read && layer == L::Raw) kind = K::Device;
      if (write && layer == L::Shadow) kind = K::Reconciler;
      rows.push_back({plane, layer, kind,
                      layer == L::Internal ? "owner_only"
                      : layer == L::Bulk   ? "lazy_external"
                                           : "lazy",
                      layer == L::Ephemeral ? "ephemeral"
                      : write               ? "control_epoch"
                                            : "monotonic",
                      write ? "control_epoch_or_ingest" : "ingest",
                      layer == L::Bulk ? "recommended" : "none", write ? "allowed" : "optional",
                      layer == L::Ephemeral ? "ttl_required" : "retain_latest",
                      layer == L::Bulk ? "bulk_payload"
                      : write          ? "control"
                                       : "default"});
    }
  }
  return rows;
}

TEST(PortDescriptor, DecisionTableCoversEveryValidPair) {
  const auto rows = decision_table();
  ASSERT_EQ(rows.size(), 26u);
  for (const DecisionRow& row : rows) {
    const RouteRefCore r = route(row.plane, row.layer, variant_for(row.plane, row.layer));
    SCOPED_TRACE(r.display());
    const PortDescriptorCore d = PortDescriptorCore::for_route(r);
    EXPECT_EQ(d.identity.producer_kind, row.producer_kind);
    EXPECT_EQ(d.schema.payload_open_policy, row.payload_open);
    EXPECT_EQ(d.time.clock_domain, row.clock_domain);
    EXPECT_EQ(d.time.timestamp_source, row.timestamp_source);
    EXPECT_EQ(d.time.watermark_policy, row.watermark);
    EXPECT_EQ(d.time.late_data_policy, row.late_data);
    EXPECT_EQ(d.time.expiry_policy, row.expiry);
    EXPECT_EQ(d.credit_class(), row.credit_class);
    // What envelopes copy must be what the descriptor says.
    const EnvelopeStamp stamp = EnvelopeStamp::for_route(r);
    EXPECT_EQ(*stamp.clock_domain, d.time.clock_domain);
    EXPECT_EQ(*stamp.credit_class, d.credit_class());
    EXPECT_EQ(*stamp.capabilities, d.security.read_capabilities);
  }
}

TEST(PortDescriptor, LayerDependentBlocks) {
  for (Layer layer : {Layer::Raw, Layer::Logical, Layer::Shadow, Layer::Bulk, Layer::Internal,
                      Layer::Ephemeral}) {
    const RouteRefCore r = route(Plane::Write, layer, variant_for(Plane::Write, layer));
    SCOPED_TRACE(r.display());
    const PortDescriptorCore d = PortDescriptorCore::for_route(r);
    const bool bulk = layer == Layer::Bulk, ephemeral = layer == Layer::Ephemeral;
    EXPECT_EQ(d.retention.latest_replay_policy, ephemeral ? "none" : "latest_only");
    EXPECT_EQ(d.retention.payload_retention_policy, bulk        ? "external_store"
                                                    : ephemeral ? "non_replayable"
                                                                : "separate_store");
    const std::vector<std::string> tiers =
        bulk ? std::vector<std::string>{"memory", "bulk_link"} : std::vector<std::string>{"memory"};
    EXPECT_EQ(d.environment.storage_tiers, tiers);
    EXPECT_EQ(d.environment.tenant, ephemeral ? std::optional<std::string>("imu") : std::nullopt);
    EXPECT_EQ(d.contract_flags, (std::array<bool, 4>{true, true, !bulk, true}));
  }
}

TEST(PortDescriptor, FixedValues) {
  const RouteRefCore r = raw_route();
  const PortDescriptorCore d = PortDescriptorCore::for_route(r);
  EXPECT_EQ(d.identity.route, r);
  EXPECT_EQ(d.identity.ns, r.ns());
  EXPECT_EQ(d.identity.runtime, "in_memory");
  EXPECT_EQ(d.identity.aliases, std::vector<std::string>{r.display()});
  EXPECT_EQ(d.identity.human_description, "Tarnwick port for read.raw.imu.accel.x.payload.v1");
  EXPECT_EQ(d.identity.variant, Variant::Payload);
  EXPECT_EQ(d.schema.schema_id, "imu.accel");
  EXPECT_EQ(d.schema.type_name, "imu.accel");
  EXPECT_EQ(d.schema.encoding, "structured");
  EXPECT_EQ(d.schema.codec_id, "identity");
  EXPECT_TRUE(d.time.timestamps_required);
  EXPECT_EQ(d.ordering.fields,
            (std::array<std::string, 5>{"unpartitioned", "route_local", "none", "none", "opaque"}));
  EXPECT_EQ(d.flow.fields,
            (std::array<std::string, 5>{"propagate", "default", "none", "inline", "reject_write"}));
  EXPECT_EQ(d.retention.durability_class, "memory");
  EXPECT_EQ(d.retention.replay_window, "none");
  EXPECT_EQ(d.security.write_capabilities, std::vector<std::string>{"write"});
  EXPECT_EQ(d.security.open_capabilities, std::vector<std::string>{"payload_open"});
  EXPECT_EQ(d.security.encryption, "none");
  EXPECT_EQ(d.security.integrity, "best_effort");
  EXPECT_EQ(std::tie(d.visibility.visibility, d.visibility.readers, d.visibility.writers),
            std::make_tuple("private", "owner", "owner"));
  EXPECT_FALSE(d.visibility.exported);
  EXPECT_EQ(std::tie(d.environment.scope, d.environment.platform, d.environment.profile),
            std::make_tuple("process", "generic", "standard"));
  EXPECT_TRUE(d.debug_enabled);
}

TEST(RetentionPolicy, LayerDefaultsAndEffectiveLimits) {
  struct Row {
    Layer layer;
    const char *latest, *window, *payload;
    std::optional<std::uint64_t> effective;
  };
  const Row rows[] = {
      {Layer::Raw, "bounded_history", "last_8", "separate_store", 8},
      {Layer::Logical, "bounded_history", "last_8", "separate_store", 8},
      {Layer::Shadow, "bounded_history", "last_8", "separate_store", 8},
      {Layer::Bulk, "bounded_history", "last_8", "external_store", 8},
      {Layer::Internal, "latest_only", "latest", "separate_store", 1},
      {Layer::Ephemeral, "none", "none", "non_replayable", 0},
  };
  for (const Row& row : rows) {
    const RetentionPolicyCore p = RetentionPolicyCore::for_route(row.layer);
    EXPECT_EQ(p.latest_replay_policy, row.latest);
    EXPECT_EQ(p.durability_class, "memory");
    EXPECT_EQ(p.replay_window, row.window);
    EXPECT_EQ(p.payload_retention_policy, row.payload);
    EXPECT_EQ(p.effective_history_limit(), row.effective);
  }
  RetentionPolicyCore bounded{std::nullopt, "bounded_history", "m", "w", "p"};
  EXPECT_EQ(bounded.effective_history_limit(), std::nullopt);
  bounded.history_limit = 3;
  EXPECT_EQ(bounded.effective_history_limit(), 3u);
  EXPECT_EQ((RetentionPolicyCore{5, "Bounded_history", "m", "w", "p"}.effective_history_limit()),
            std::nullopt);
}

TEST(PayloadIdentifier, FormatAndParse) {
  EXPECT_EQ(payload_identifier("a.b", 1), "a.b:00000000000000000001");
  EXPECT_EQ(payload_identifier("a", UINT64_MAX), "a:18446744073709551615");
  EXPECT_EQ(seq_of_payload_identifier("a", "a:18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(seq_of_payload_identifier("a", "a:18446744073709551616"), std::nullopt);
  EXPECT_EQ(seq_of_payload_identifier("a", "b:00000000000000000001"), std::nullopt);
  EXPECT_EQ(seq_of_payload_identifier("a", "a:1"), std::nullopt);
}

// ---- the graph state ------------------------------------------------------------

// An envelope as a control-loop tick makes one: stored as latest only, naming
// no stored body.
SharedEnvelope tick_envelope(const RouteRefCore& r, std::uint64_t seq) {
  ClosedEnvelopeCore e{r, {"loop", ProducerKind::ControlLoop}};
  e.seq_source = seq;
  e.emitter = in_memory_emitter();
  e.payload = {"control-loop-" + std::to_string(seq), 0, "identity", ""};
  return seal(std::move(e));
}

TEST(GraphPoisoning, SequenceAtMaximumPoisonsTheGraph) {
  auto state = make_graph_state();
  const RouteRefCore r = raw_route();
  ASSERT_TRUE(state
                  ->with([&](GraphCore& g) -> Status {
                    g.replace_latest(tick_envelope(r, std::numeric_limits<std::uint64_t>::max()));
                    return {};
                  })
                  .ok());
  try {
    (void)state->with([&](GraphCore& g) -> Result<SharedEnvelope> {
      return g.direct_write(r, bytes("x"), producer("p"), std::nullopt);
    });
    FAIL() << "no invariant failure";
  } catch (const InvariantFailure& failure) {
    EXPECT_STREQ(failure.what(), "route sequence overflowed u64");
  }
  EXPECT_TRUE(state->poisoned());
  int runs = 0;
  const Status after = state->with([&](GraphCore&) -> Status {
    ++runs;
    return {};
  });
  ASSERT_FALSE(after.ok());
  EXPECT_EQ(after.error().kind, ErrorKind::Runtime);
  EXPECT_EQ(after.error().message, "graph mutex poisoned");
  EXPECT_EQ(runs, 0);
}

TEST(GraphPoisoning, NothingIsStoredByTheOverflowingWrite) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  g.replace_latest(tick_envelope(r, std::numeric_limits<std::uint64_t>::max()));
  EXPECT_THROW((void)g.direct_write(r, bytes("x"), producer("p"), std::nullopt), InvariantFailure);
  const RouteSlot* slot = g.find_slot(r);
  EXPECT_TRUE(slot->bodies.empty());
  EXPECT_FALSE(slot->history.has_value());
  EXPECT_FALSE(slot->audit.has_value());
  EXPECT_EQ(slot->latest->seq_source, std::numeric_limits<std::uint64_t>::max());
}

std::vector<std::tuple<std::string, std::string, std::uint64_t>> audit_of(const GraphCore& g,
                                                                          const RouteRefCore& r) {
  std::vector<std::tuple<std::string, std::string, std::uint64_t>> out;
  const RouteSlot* slot = g.find_slot(r);
  if (slot == nullptr || !slot->audit) return out;
  for (const AuditEventCore& e : *slot->audit) {
    out.emplace_back(e.action, e.actor, e.seq_source.value_or(0));
    EXPECT_EQ(e.route, r);
  }
  return out;
}

using Events = std::vector<std::tuple<std::string, std::string, std::uint64_t>>;

TEST(WriteAudit, OneWriteEventPerProducerInFirstSeenOrder) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  for (const char* who : {"a", "b", "a"}) g.direct_write(r, bytes(who), producer(who), {});
  EXPECT_EQ(audit_of(g, r), (Events{{"write", "a", 3}, {"write", "b", 2}}));
  const RouteSlot* slot = g.find_slot(r);
  EXPECT_FALSE(slot->audit->front().detail.has_value());
}

TEST(WriteAudit, PayloadOpenIsOneEventNamingTheLatest) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  g.direct_write(r, bytes("1"), producer("a"), {});
  const SharedEnvelope second = g.direct_write(r, bytes("2"), producer("a"), {});
  ASSERT_TRUE(g.open_latest(r).has_value());
  const auto opened = g.open_latest(r);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(opened->payload.view(), "2");
  EXPECT_EQ(audit_of(g, r), (Events{{"write", "a", 2}, {"payload_open", "reader", 2}}));
  EXPECT_EQ(g.find_slot(r)->audit->back().detail, second->payload.payload_id);
}

TEST(WriteAudit, ExpiredEventsLeaveAtTheNextEnforcementPoint) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  g.configure_retention(r, {2, "bounded_history", "m", "w", "p"});
  g.direct_write(r, bytes("1"), producer("old"), {});
  g.direct_write(r, bytes("2"), producer("new"), {});
  EXPECT_EQ(audit_of(g, r), (Events{{"write", "old", 1}, {"write", "new", 2}}));
  // The history now starts at 2: old's event names a dropped envelope.
  g.direct_write(r, bytes("3"), producer("new"), {});
  EXPECT_EQ(audit_of(g, r), (Events{{"write", "new", 3}}));
}

TEST(WriteAudit, LoneExpiredEventStaysAndIsReported) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  g.configure_retention(r, {std::nullopt, "none", "m", "none", "p"});
  for (int i = 0; i < 3; ++i) g.direct_write(r, bytes("x"), producer("a"), {});
  g.replace_latest(tick_envelope(r, 10));
  EXPECT_EQ(audit_of(g, r), (Events{{"write", "a", 3}}));
  const std::string display = r.display();
  EXPECT_EQ(g.retention_violations(),
            (std::vector<std::string>{
                // Sorted as plain texts: the payload message comes first.
                "payload " + display + ":00000000000000000003 is not retained by latest/history",
                display + " audit retained expired seq_source 3",
            }));
  // The next write numbers after the tick and is judged normally.
  const SharedEnvelope next = g.direct_write(r, bytes("y"), producer("a"), {});
  EXPECT_EQ(next->seq_source, 11u);
  EXPECT_EQ(audit_of(g, r), (Events{{"write", "a", 11}}));
  EXPECT_EQ(g.retention_violations(),
            (std::vector<std::string>{"payload " + display +
                                      ":00000000000000000003 is not retained by latest/history"}));
}

TEST(Retention, ReplayBeyondLimitIsReported) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  for (int i = 0; i < 3; ++i) g.direct_write(r, bytes("x"), producer("a"), {});
  // Bookkeeping only ever trims; a history longer than the policy must be planted.
  RouteSlot& slot = g.slot_for(r);
  slot.policy->latest_replay_policy = "latest_only";
  EXPECT_EQ(g.retention_violations(),
            std::vector<std::string>{r.display() + " replay retained 3 events beyond limit 1"});
}

TEST(Retention, TickAfterWritesReusesSequenceNumbersWithoutLosingBodies) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  for (int i = 0; i < 4; ++i) g.direct_write(r, bytes(std::to_string(i + 1)), producer("a"), {});
  g.replace_latest(tick_envelope(r, 1));
  const SharedEnvelope again = g.direct_write(r, bytes("second 2"), producer("a"), {});
  EXPECT_EQ(again->seq_source, 2u);
  // Two history entries now name identifier 2; the newer bytes answer for it.
  EXPECT_EQ(g.payload_by_id(again->payload.payload_id).view(), "second 2");
  EXPECT_EQ(g.retained_payload_count(r), 4u);
  EXPECT_EQ(g.retention_violations(), std::vector<std::string>{});
  for (int i = 0; i < 12; ++i) g.direct_write(r, bytes("z"), producer("a"), {});
  EXPECT_EQ(g.retained_payload_count(r), 8u);
  EXPECT_EQ(g.find_slot(r)->bodies.size(), 8u);
}

TEST(Routing, RoutedRoutesAreNotWrittenBySingleWrites) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  EXPECT_TRUE(g.routed_routes().empty());
  g.slot_for(r).routed = true;
  EXPECT_EQ(g.routed_routes(), std::vector<RouteRefCore>{r});
  EXPECT_EQ(g.write_single_if_unrouted(r, bytes("x"), producer("a"), {}), nullptr);
  EXPECT_EQ(g.find_slot(r)->latest, nullptr);
  EXPECT_FALSE(g.find_slot(r)->registered());
  const auto written = g.write(r, bytes("x"), producer("a"), {});
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written.front()->seq_source, 1u);
}

TEST(PayloadBytes, FallsBackToInlineBytes) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  const SharedEnvelope stored = g.direct_write(r, bytes("body"), producer("a"), {});
  EXPECT_EQ(g.payload_bytes_for(*stored), "body");
  ClosedEnvelopeCore orphan = *stored;
  orphan.payload.payload_id = "elsewhere";
  orphan.payload.inline_bytes = "inline";
  EXPECT_EQ(g.payload_bytes_for(orphan), "inline");
}

TEST(Query, LatestAnswersWithTheStoredEnvelope) {
  GraphCore g;
  const RouteRefCore r = raw_route();
  EXPECT_EQ(std::get<LatestResult>(g.query(LatestRequest{r})).envelope, nullptr);
  const SharedEnvelope e = g.direct_write(r, bytes("x"), producer("a"), {});
  EXPECT_EQ(std::get<LatestResult>(g.query(LatestRequest{r})).envelope, e);
  EXPECT_EQ(g.find_slot(route(Plane::Read, Layer::Raw, Variant::Meta)), nullptr);
}

}  // namespace
}  // namespace tarnwick
