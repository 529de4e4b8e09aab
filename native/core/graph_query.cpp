#include "core/graph_query.hpp"

#include "core/graph_core.hpp"

namespace tarnwick {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

}  // namespace

QueryResultCore GraphCore::query(const QueryRequestCore& request) const {
  return std::visit(
      Overloaded{
          [&](const LatestRequest& r) -> QueryResultCore {
            const RouteSlot* slot = find_slot(r.route);
            return LatestResult{slot ? slot->latest : nullptr};
          },
      },
      request);
}

}  // namespace tarnwick
