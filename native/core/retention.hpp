// Retention policies and audit events of a route.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/route.hpp"

namespace tarnwick {

inline constexpr std::string_view kBoundedHistory = "bounded_history";
inline constexpr std::string_view kLatestOnly = "latest_only";
inline constexpr std::string_view kNoReplay = "none";
inline constexpr std::uint64_t kDefaultBoundedHistory = 8;

struct RetentionPolicyCore {
  std::optional<std::uint64_t> history_limit;
  // Only this text has behaviour; the other three are carried as given.
  std::string latest_replay_policy;
  std::string durability_class;
  std::string replay_window;
  std::string payload_retention_policy;

  static RetentionPolicyCore for_route(Layer layer);

  // Absent means unbounded: an unknown policy text never trims.
  std::optional<std::uint64_t> effective_history_limit() const;
};

inline constexpr std::string_view kWriteAction = "write";
inline constexpr std::string_view kPayloadOpenAction = "payload_open";
inline constexpr std::string_view kReaderActor = "reader";

struct AuditEventCore {
  std::optional<std::uint64_t> seq_source;
  RouteRefCore route;
  std::string action;
  std::string actor;
  std::optional<std::string> detail;
};

}  // namespace tarnwick

namespace tarnwick {

// What a route retains, as reported to Python. The lineage and index counts
// exist for callers that read them; the graph keeps no lineage, so they are 0.
struct RetentionSnapshotCore {
  std::optional<std::uint64_t> latest_seq_source;
  std::optional<std::uint64_t> history_limit;
  std::string route_display;
  std::uint64_t metadata_event_count = 0;
  std::uint64_t replay_count = 0;
  std::uint64_t payload_count = 0;
  std::uint64_t lineage_count = 0;
  std::uint64_t trace_index_count = 0;
  std::uint64_t causality_index_count = 0;
  std::uint64_t correlation_index_count = 0;
};

}  // namespace tarnwick
