// Python surface of the node-graph compiler.
#include "module/bind.hpp"
#include "node_compiler/compile.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

const Registration compile{"compile_node_graph", [](PyObject* m) {
    return function<&compile_node_graph>(m, "compile_node_graph(node_graph_json)");
}};

}  // namespace
}  // namespace core
