#include "core/architecture.hpp"

#include <initializer_list>
#include <string_view>
#include <utility>

#include "support/text.hpp"

namespace tarnwick {
namespace {

struct Labelled {
  const char* label;
  const std::string& text;
};

// The first blank text, in the order given, fails the construction.
Status nonblank(std::initializer_list<Labelled> fields) {
  for (const Labelled& f : fields) {
    if (Status s = validate_nonblank_text(f.label, f.text); !s.ok()) return s;
  }
  return {};
}

// "Kind(a="…", b="…")" with every field in debug quoting.
std::string show(const char* kind, std::initializer_list<Labelled> fields) {
  std::string out = kind;
  out += '(';
  bool first = true;
  for (const Labelled& f : fields) {
    if (!first) out += ", ";
    first = false;
    out.append(f.label).append("=").append(debug_quote(f.text));
  }
  out += ')';
  return out;
}

}  // namespace

Result<ArchitecturePadCore> ArchitecturePadCore::make(std::string name, std::string topic,
                                                      std::string direction) {
  if (Status s = nonblank({{"pad name", name}, {"pad topic", topic}}); !s.ok()) return s.error();
  if (direction != "input" && direction != "output" && direction != "internal") {
    return Error::value("pad direction must be 'input', 'output', or 'internal'");
  }
  return ArchitecturePadCore{std::move(name), std::move(topic), std::move(direction)};
}

std::string ArchitecturePadCore::repr() const {
  return show("Pad", {{"name", name}, {"topic", topic}, {"direction", direction}});
}

Result<ArchitectureViaCore> ArchitectureViaCore::make(std::string name, std::string source,
                                                      std::string target, std::string boundary) {
  if (Status s = nonblank(
          {{"name", name}, {"source", source}, {"target", target}, {"boundary", boundary}});
      !s.ok()) {
    return s.error();
  }
  return ArchitectureViaCore{std::move(name), std::move(source), std::move(target),
                             std::move(boundary)};
}

std::string ArchitectureViaCore::repr() const {
  return show("Via",
              {{"name", name}, {"source", source}, {"target", target}, {"boundary", boundary}});
}

Result<ArchitectureProbeCore> ArchitectureProbeCore::make(std::string name, std::string target) {
  if (Status s = nonblank({{"name", name}, {"target", target}}); !s.ok()) return s.error();
  return ArchitectureProbeCore{std::move(name), std::move(target)};
}

std::string ArchitectureProbeCore::repr() const {
  return show("Probe", {{"name", name}, {"target", target}});
}

Result<ArchitectureRelayCore> ArchitectureRelayCore::make(std::string name, std::string source,
                                                          std::string target) {
  if (Status s = nonblank({{"name", name}, {"source", source}, {"target", target}}); !s.ok()) {
    return s.error();
  }
  return ArchitectureRelayCore{std::move(name), std::move(source), std::move(target)};
}

std::string ArchitectureRelayCore::repr() const {
  return show("Relay", {{"name", name}, {"source", source}, {"target", target}});
}

Result<ArchitectureGroundCore> ArchitectureGroundCore::make(std::string name, std::string reason) {
  if (Status s = nonblank({{"name", name}, {"reason", reason}}); !s.ok()) return s.error();
  return ArchitectureGroundCore{std::move(name), std::move(reason)};
}

std::string ArchitectureGroundCore::repr() const {
  return show("Ground", {{"name", name}, {"reason", reason}});
}

Result<ArchitectureResistorCore> ArchitectureResistorCore::make(
    std::string name, std::string boundary, std::string policy,
    std::optional<std::uint64_t> limit) {
  if (Status s = nonblank({{"resistor name", name},
                           {"resistor boundary", boundary},
                           {"resistor policy", policy}});
      !s.ok()) {
    return s.error();
  }
  if (limit == 0u) return Error::value("resistor limit must be positive");
  return ArchitectureResistorCore{std::move(name), std::move(boundary), std::move(policy), limit};
}

Result<ArchitectureCapacitorCore> ArchitectureCapacitorCore::make(
    std::string name, std::string source, std::string target, std::uint64_t capacity,
    std::optional<std::string> location) {
  if (Status s = nonblank({{"capacitor name", name},
                           {"capacitor source", source},
                           {"capacitor target", target}});
      !s.ok()) {
    return s.error();
  }
  if (capacity == 0) return Error::value("capacitor capacity must be positive");
  if (location) {
    if (Status s = validate_nonblank_text("capacitor location", *location); !s.ok()) {
      return s.error();
    }
  }
  return ArchitectureCapacitorCore{std::move(name), std::move(source), std::move(target), capacity,
                                   std::move(location)};
}

Result<ArchitectureRegulatorCore> ArchitectureRegulatorCore::make(
    std::string name, std::string policy, std::optional<std::uint64_t> limit) {
  if (Status s = nonblank({{"regulator name", name}, {"regulator policy", policy}}); !s.ok()) {
    return s.error();
  }
  if (limit == 0u) return Error::value("regulator limit must be positive");
  return ArchitectureRegulatorCore{std::move(name), std::move(policy), limit};
}

}  // namespace tarnwick
