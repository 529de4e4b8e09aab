// The fixed contract of a registered route, derived from its plane and layer.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/envelope.hpp"
#include "core/refs.hpp"
#include "core/route.hpp"

namespace tarnwick {

struct IdentityBlockCore {
  RouteRefCore route;
  NamespaceRefCore ns;
  std::string owner;
  ProducerKind producer_kind;
  std::string runtime;
  std::string family;
  std::vector<std::string> aliases;
  std::string human_description;
  Variant variant;
};

struct SchemaBlockCore {
  std::string schema_id;
  std::uint32_t schema_version;
  std::string encoding;
  std::string codec_id;
  std::string type_name;
  std::string payload_open_policy;
};

struct TimeBlockCore {
  std::string clock_domain;
  std::string timestamp_source;
  std::string watermark_policy;
  std::string late_data_policy;
  std::string expiry_policy;
  bool timestamps_required;
};

// One record type held twice. Ordering block: partitioning, ordering_scope,
// deduplication, compaction, key_kind. Flow block: backpressure_policy,
// credit_class, rate_limit, delivery, overflow_policy.
struct FlowBlockCore {
  std::array<std::string, 5> fields;
};

inline constexpr std::size_t kBackpressurePolicy = 0;
inline constexpr std::size_t kCreditClass = 1;

struct RetentionBlockCore {
  std::string latest_replay_policy;
  std::string durability_class;
  std::string replay_window;
  std::string payload_retention_policy;
};

struct SecurityBlockCore {
  std::vector<std::string> read_capabilities;
  std::vector<std::string> write_capabilities;
  std::vector<std::string> open_capabilities;
  std::string encryption;
  std::string integrity;
};

struct VisibilityBlockCore {
  std::string visibility;
  std::string readers;
  std::string writers;
  bool exported;
};

struct EnvironmentBlockCore {
  std::string scope;
  std::vector<std::string> storage_tiers;
  std::string platform;
  std::string profile;
  std::optional<std::string> tenant;
};

// The descriptor values every envelope of a route copies. They come from
// the same texts as the descriptor's, whose blocks holding them never change.
struct EnvelopeStamp {
  StaticText clock_domain;
  StaticText credit_class;
  StaticTexts capabilities;  // the read capabilities

  static EnvelopeStamp for_route(const RouteRefCore& route);
};

struct PortDescriptorCore {
  IdentityBlockCore identity;
  SchemaBlockCore schema;
  TimeBlockCore time;
  FlowBlockCore ordering;
  FlowBlockCore flow;
  RetentionBlockCore retention;
  SecurityBlockCore security;
  VisibilityBlockCore visibility;
  EnvironmentBlockCore environment;
  bool debug_enabled;
  std::array<bool, 4> contract_flags;

  static PortDescriptorCore for_route(const RouteRefCore& route);

  const std::string& clock_domain() const { return time.clock_domain; }
  const std::string& credit_class() const { return flow.fields[kCreditClass]; }
  const std::string& backpressure_policy() const { return flow.fields[kBackpressurePolicy]; }
};

}  // namespace tarnwick
