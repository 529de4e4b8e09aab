// Graph methods for mailboxes, connections, credit, write bindings and the
// read-only queries.
#include "python/py_graph.hpp"

namespace tarnwick::py {

void add_routing_methods(ClassDef<GraphHandle>& /*def*/) {}

}  // namespace tarnwick::py
