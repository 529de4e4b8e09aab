// Graph methods for byte materialisers, the fast emit family and control loops.
#include "python/py_graph.hpp"

namespace tarnwick::py {

void add_materializer_methods(ClassDef<GraphHandle>& /*def*/) {}

}  // namespace tarnwick::py
