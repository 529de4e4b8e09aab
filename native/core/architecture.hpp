// Value records that describe a system architecture in circuit terms. They
// are validated and stored exactly as given (texts untrimmed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/result.hpp"

namespace tarnwick {

struct ArchitecturePadCore {
  std::string name;
  std::string topic;
  std::string direction;

  static Result<ArchitecturePadCore> make(std::string name, std::string topic,
                                          std::string direction);
  std::string repr() const;
  bool operator==(const ArchitecturePadCore&) const = default;
};

struct ArchitectureViaCore {
  std::string name;
  std::string source;
  std::string target;
  std::string boundary;

  static Result<ArchitectureViaCore> make(std::string name, std::string source, std::string target,
                                          std::string boundary);
  std::string repr() const;
};

struct ArchitectureProbeCore {
  std::string name;
  std::string target;

  static Result<ArchitectureProbeCore> make(std::string name, std::string target);
  std::string repr() const;
};

struct ArchitectureRelayCore {
  std::string name;
  std::string source;
  std::string target;

  static Result<ArchitectureRelayCore> make(std::string name, std::string source,
                                            std::string target);
  std::string repr() const;
};

struct ArchitectureGroundCore {
  std::string name;
  std::string reason;

  static Result<ArchitectureGroundCore> make(std::string name, std::string reason);
  std::string repr() const;
};

struct ArchitectureResistorCore {
  std::string name;
  std::string boundary;
  std::string policy;
  std::optional<std::uint64_t> limit;

  static Result<ArchitectureResistorCore> make(std::string name, std::string boundary,
                                               std::string policy,
                                               std::optional<std::uint64_t> limit);
};

struct ArchitectureCapacitorCore {
  std::string name;
  std::string source;
  std::string target;
  std::uint64_t capacity = 1;
  std::optional<std::string> location;

  static Result<ArchitectureCapacitorCore> make(std::string name, std::string source,
                                                std::string target, std::uint64_t capacity,
                                                std::optional<std::string> location);
};

struct ArchitectureRegulatorCore {
  std::string name;
  std::string policy;
  std::optional<std::uint64_t> limit;

  static Result<ArchitectureRegulatorCore> make(std::string name, std::string policy,
                                                std::optional<std::uint64_t> limit);
};

}  // namespace tarnwick
