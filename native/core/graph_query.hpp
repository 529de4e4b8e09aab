// Requests and results of the graph's one read-only query entry point. A
// result owns what it holds and stays valid after the graph mutex is released.
#pragma once

#include <variant>

#include "core/envelope.hpp"
#include "core/route.hpp"

namespace tarnwick {

struct LatestRequest {
  RouteRefCore route;
};

using QueryRequestCore = std::variant<LatestRequest>;

struct LatestResult {
  SharedEnvelope envelope;  // null: the route has no latest envelope
};

using QueryResultCore = std::variant<LatestResult>;

}  // namespace tarnwick
