// Python surface of the node-graph compiler.
#include "module/bind.hpp"
#include "node_compiler/graph.hpp"

namespace core {
namespace {

using namespace py;

const Registration compile{"compile_node_graph", [](PyObject* m) {
    return function<&compile_node_graph>(m, "compile_node_graph(node_graph_json)");
}};

}  // namespace
}  // namespace core
