#include "core/port_descriptor.hpp"

namespace tarnwick {
namespace {

// First match wins.
ProducerKind producer_kind_for(Plane p, Layer l) {
  if (l == Layer::Internal) return ProducerKind::Mailbox;
  if (p == Plane::Query || p == Plane::Debug) return ProducerKind::QueryService;
  if (p == Plane::Read && l == Layer::Raw) return ProducerKind::Device;
  if (p == Plane::Write && l == Layer::Shadow) return ProducerKind::Reconciler;
  return ProducerKind::Application;
}

const char* payload_open_policy_for(Layer l) {
  if (l == Layer::Internal) return "owner_only";
  if (l == Layer::Bulk) return "lazy_external";
  return "lazy";
}

StaticText clock_domain_for(Plane p, Layer l) {
  static const std::string ephemeral = "ephemeral", control_epoch = "control_epoch",
                           monotonic = "monotonic";
  if (l == Layer::Ephemeral) return &ephemeral;
  return p == Plane::Write ? &control_epoch : &monotonic;
}

StaticText credit_class_for(Plane p, Layer l) {
  static const std::string bulk_payload = "bulk_payload", control = "control",
                           default_class = "default";
  if (l == Layer::Bulk) return &bulk_payload;
  return p == Plane::Write ? &control : &default_class;
}

StaticTexts read_capabilities() {
  static const std::vector<std::string> read = {"read"};
  return &read;
}

const char* payload_retention_for(Layer l) {
  if (l == Layer::Bulk) return "external_store";
  if (l == Layer::Ephemeral) return "non_replayable";
  return "separate_store";
}

}  // namespace

EnvelopeStamp EnvelopeStamp::for_route(const RouteRefCore& route) {
  return {clock_domain_for(route.plane(), route.layer()),
          credit_class_for(route.plane(), route.layer()), read_capabilities()};
}

PortDescriptorCore PortDescriptorCore::for_route(const RouteRefCore& route) {
  const Plane p = route.plane();
  const Layer l = route.layer();
  const bool write = p == Plane::Write;
  const bool bulk = l == Layer::Bulk;
  const bool ephemeral = l == Layer::Ephemeral;
  std::string display = route.display();
  return PortDescriptorCore{
      .identity =
          {
              .route = route,
              .ns = route.ns(),
              .owner = route.owner(),
              .producer_kind = producer_kind_for(p, l),
              .runtime = "in_memory",
              .family = route.family(),
              .aliases = {display},
              .human_description = "Tarnwick port for " + display,
              .variant = route.variant(),
          },
      .schema =
          {
              .schema_id = route.schema().schema_id,
              .schema_version = route.schema().version,
              .encoding = "structured",
              .codec_id = "identity",
              .type_name = route.schema().schema_id,
              .payload_open_policy = payload_open_policy_for(l),
          },
      .time =
          {
              .clock_domain = *clock_domain_for(p, l),
              .timestamp_source = write ? "control_epoch_or_ingest" : "ingest",
              .watermark_policy = bulk ? "recommended" : "none",
              .late_data_policy = write ? "allowed" : "optional",
              .expiry_policy = ephemeral ? "ttl_required" : "retain_latest",
              .timestamps_required = true,
          },
      .ordering = {{"unpartitioned", "route_local", "none", "none", "opaque"}},
      .flow = {{"propagate", *credit_class_for(p, l), "none", "inline", "reject_write"}},
      .retention =
          {
              .latest_replay_policy = ephemeral ? "none" : "latest_only",
              .durability_class = "memory",
              .replay_window = "none",
              .payload_retention_policy = payload_retention_for(l),
          },
      .security =
          {
              .read_capabilities = *read_capabilities(),
              .write_capabilities = {"write"},
              .open_capabilities = {"payload_open"},
              .encryption = "none",
              .integrity = "best_effort",
          },
      .visibility = {.visibility = "private",
                     .readers = "owner",
                     .writers = "owner",
                     .exported = false},
      .environment =
          {
              .scope = "process",
              .storage_tiers = bulk ? std::vector<std::string>{"memory", "bulk_link"}
                                    : std::vector<std::string>{"memory"},
              .platform = "generic",
              .profile = "standard",
              .tenant = ephemeral ? std::optional<std::string>(route.owner()) : std::nullopt,
          },
      .debug_enabled = true,
      .contract_flags = {true, true, !bulk, true},
  };
}

}  // namespace tarnwick
