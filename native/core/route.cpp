#include "core/route.hpp"

#include "support/siphash.hpp"
#include "support/text.hpp"

namespace tarnwick {
namespace {

bool plane_admits(Plane plane, Variant v) {
  switch (plane) {
    case Plane::Read:
      return v == Variant::Meta || v == Variant::Payload || v == Variant::State ||
             v == Variant::Event || v == Variant::Health;
    case Plane::Write:
      return v == Variant::Request || v == Variant::Desired || v == Variant::Reported ||
             v == Variant::Effective || v == Variant::Ack;
    case Plane::State:
      return v == Variant::State;
    case Plane::Query:
      return v == Variant::QueryRequest || v == Variant::QueryResponse;
    case Plane::Debug:
      return v == Variant::Meta || v == Variant::Event || v == Variant::Health;
  }
  return false;
}

std::int64_t route_hash(const NamespaceRefCore& ns, const std::string& family,
                        const std::string& stream, Variant variant, const SchemaRefCore& schema) {
  SipHasher13 h;
  h.write_u64_le(static_cast<std::uint64_t>(ns.plane));
  h.write_u64_le(static_cast<std::uint64_t>(ns.layer));
  h.write(ns.owner);
  h.write_u8(0xFF);
  h.write(family);
  h.write_u8(0xFF);
  h.write(stream);
  h.write_u8(0xFF);
  h.write_u64_le(static_cast<std::uint64_t>(variant));
  h.write(schema.schema_id);
  h.write_u8(0xFF);
  h.write_u32_le(schema.version);
  const auto signed_hash = static_cast<std::int64_t>(h.finish());
  return signed_hash == -1 ? -2 : signed_hash;  // the interpreter reserves -1
}

}  // namespace

Status check_route_rules(Plane plane, Layer layer, Variant variant) {
  if (!plane_admits(plane, variant)) {
    return Error::value("variant " + std::string(enum_name(variant)) + " is not valid for plane " +
                        std::string(enum_name(plane)));
  }
  if (plane == Plane::Write && variant == Variant::Request && layer == Layer::Shadow) {
    return Error::value("write request routes must not use the shadow layer");
  }
  if (plane != Plane::Write && layer == Layer::Shadow) {
    return Error::value("shadow routes are only valid under the write plane");
  }
  return {};
}

Result<RouteRefCore> RouteRefCore::make(NamespaceRefCore ns, std::string family,
                                        std::string stream, Variant variant,
                                        SchemaRefCore schema) {
  if (auto s = validate_nonblank_text("family", family); !s) return s.error();
  if (auto s = validate_nonblank_text("stream", stream); !s) return s.error();
  if (auto s = check_route_rules(ns.plane, ns.layer, variant); !s) return s.error();
  RouteRefCore r;
  r.hash_ = route_hash(ns, family, stream, variant, schema);
  r.ns_ = std::move(ns);
  r.family_ = std::move(family);
  r.stream_ = std::move(stream);
  r.variant_ = variant;
  r.schema_ = std::move(schema);
  return r;
}

std::string RouteRefCore::display() const {
  std::string out;
  out.reserve(ns_.owner.size() + family_.size() + stream_.size() + 40);
  out.append(enum_name(ns_.plane)).push_back('.');
  out.append(enum_name(ns_.layer)).push_back('.');
  out.append(ns_.owner).push_back('.');
  out.append(family_).push_back('.');
  out.append(stream_).push_back('.');
  out.append(enum_name(variant_)).append(".v");
  out.append(std::to_string(schema_.version));
  return out;
}

}  // namespace tarnwick
