// Small reference values carried by routes and envelopes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "core/route.hpp"

namespace tarnwick {

enum class ProducerKind : std::uint8_t {
  Device, FirmwareAgent, Transform, ControlLoop, Mailbox, QueryService, Application, Bridge,
  Reconciler, LifecycleService,
};

template <>
struct EnumTraits<ProducerKind> {
  static constexpr const char* class_name = "ProducerKind";
  static constexpr bool has_repr = true;
  static constexpr std::array<EnumEntry, 10> entries{{
      {0, "Device", "device"}, {1, "FirmwareAgent", "firmware_agent"},
      {2, "Transform", "transform"}, {3, "ControlLoop", "control_loop"},
      {4, "Mailbox", "mailbox"}, {5, "QueryService", "query_service"},
      {6, "Application", "application"}, {7, "Bridge", "bridge"},
      {8, "Reconciler", "reconciler"}, {9, "LifecycleService", "lifecycle_service"},
  }};
};

enum class TaintDomain : std::uint8_t {
  Time, Order, Delivery, Determinism, Scheduling, Trust, Coherence,
};

template <>
struct EnumTraits<TaintDomain> {
  static constexpr const char* class_name = "TaintDomain";
  static constexpr bool has_repr = false;  // shows the interpreter's default repr
  static constexpr std::array<EnumEntry, 7> entries{{
      {0, "Time", "time"}, {1, "Order", "order"}, {2, "Delivery", "delivery"},
      {3, "Determinism", "determinism"}, {4, "Scheduling", "scheduling"},
      {5, "Trust", "trust"}, {6, "Coherence", "coherence"},
  }};
};

struct ProducerRefCore {
  std::string producer_id;
  ProducerKind kind;

  // The producer of every write that names none.
  static ProducerRefCore python_default() { return {"python", ProducerKind::Application}; }
  bool operator==(const ProducerRefCore&) const = default;
};

struct RuntimeRefCore {
  std::string runtime_id;
  bool operator==(const RuntimeRefCore&) const = default;
};

struct ClockDomainRefCore {
  std::string clock_domain_id;
  bool operator==(const ClockDomainRefCore&) const = default;
};

struct TaintMarkCore {
  TaintDomain domain;
  std::string value_id;
  std::string origin_id;
  bool operator==(const TaintMarkCore&) const = default;
};

struct WaitForAck {
  RouteRefCore route;
  bool operator==(const WaitForAck&) const = default;
};

struct NotBeforeEpoch {
  std::uint64_t epoch;
  bool operator==(const NotBeforeEpoch&) const = default;
};

struct ScheduleGuardCore {
  std::optional<std::uint64_t> expires_at_epoch;
  std::variant<WaitForAck, NotBeforeEpoch> condition;
  bool operator==(const ScheduleGuardCore&) const = default;
};

}  // namespace tarnwick
