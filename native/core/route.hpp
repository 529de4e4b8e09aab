// Route identity: the classifying enumerations, namespaces, schemas and the
// seven-part route record with its validity rules, display text and hash.
#pragma once

#include <cstdint>
#include <string>

#include "support/enum_table.hpp"
#include "support/result.hpp"

namespace tarnwick {

enum class Plane : std::uint8_t { Read, Write, State, Query, Debug };
enum class Layer : std::uint8_t { Raw, Logical, Shadow, Bulk, Internal, Ephemeral };
enum class Variant : std::uint8_t {
  Meta, Payload, Request, Desired, Reported, Effective, Ack, State, QueryRequest,
  QueryResponse, Event, Health,
};

template <>
struct EnumTraits<Plane> {
  static constexpr const char* class_name = "Plane";
  static constexpr bool has_repr = true;
  static constexpr std::array<EnumEntry, 5> entries{{
      {0, "Read", "read"}, {1, "Write", "write"}, {2, "State", "state"},
      {3, "Query", "query"}, {4, "Debug", "debug"},
  }};
};

template <>
struct EnumTraits<Layer> {
  static constexpr const char* class_name = "Layer";
  static constexpr bool has_repr = true;
  static constexpr std::array<EnumEntry, 6> entries{{
      {0, "Raw", "raw"}, {1, "Logical", "logical"}, {2, "Shadow", "shadow"},
      {3, "Bulk", "bulk"}, {4, "Internal", "internal"}, {5, "Ephemeral", "ephemeral"},
  }};
};

template <>
struct EnumTraits<Variant> {
  static constexpr const char* class_name = "Variant";
  static constexpr bool has_repr = true;
  static constexpr std::array<EnumEntry, 12> entries{{
      {0, "Meta", "meta"}, {1, "Payload", "payload"}, {2, "Request", "request"},
      {3, "Desired", "desired"}, {4, "Reported", "reported"}, {5, "Effective", "effective"},
      {6, "Ack", "ack"}, {7, "State", "state"}, {8, "QueryRequest", "query_request"},
      {9, "QueryResponse", "query_response"}, {10, "Event", "event"},
      {11, "Health", "health"},
  }};
};

struct NamespaceRefCore {
  Plane plane;
  Layer layer;
  std::string owner;

  bool operator==(const NamespaceRefCore&) const = default;
};

struct SchemaRefCore {
  std::string schema_id;
  std::uint32_t version;

  bool operator==(const SchemaRefCore&) const = default;
};

// Invariant: satisfies the validity rules (only `make` builds one from parts).
class RouteRefCore {
 public:
  // Checks family, stream and the plane/layer/variant rules, in that order.
  static Result<RouteRefCore> make(NamespaceRefCore ns, std::string family,
                                   std::string stream, Variant variant, SchemaRefCore schema);

  const NamespaceRefCore& ns() const { return ns_; }
  Plane plane() const { return ns_.plane; }
  Layer layer() const { return ns_.layer; }
  const std::string& owner() const { return ns_.owner; }
  const std::string& family() const { return family_; }
  const std::string& stream() const { return stream_; }
  Variant variant() const { return variant_; }
  const SchemaRefCore& schema() const { return schema_; }

  // "{plane}.{layer}.{owner}.{family}.{stream}.{variant}.v{version}"
  std::string display() const;

  // The process-stable SipHash-1-3 route hash, already mapped off -1.
  std::int64_t stable_hash() const { return hash_; }

  bool operator==(const RouteRefCore& o) const {
    return hash_ == o.hash_ && variant_ == o.variant_ && ns_ == o.ns_ && family_ == o.family_ &&
           stream_ == o.stream_ && schema_ == o.schema_;
  }

 private:
  RouteRefCore() = default;
  NamespaceRefCore ns_;
  std::string family_;
  std::string stream_;
  Variant variant_{};
  SchemaRefCore schema_;
  std::int64_t hash_ = 0;  // computed once; the fields never change
};

// The plane/layer/variant rules alone.
Status check_route_rules(Plane plane, Layer layer, Variant variant);

}  // namespace tarnwick

template <>
struct std::hash<tarnwick::RouteRefCore> {
  std::size_t operator()(const tarnwick::RouteRefCore& r) const noexcept {
    return static_cast<std::size_t>(r.stable_hash());
  }
};
