#pragma once

#include <string_view>

#include "node_compiler/graph.hpp"

namespace core {

// Decodes the JSON document; throws ValueError with "{} at line {} column {}".
// The graph's views point into `json` and into the graph itself.
NodeGraph decode_node_graph(std::string_view json);

}  // namespace core
