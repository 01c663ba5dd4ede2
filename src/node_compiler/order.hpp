#pragma once

#include <cstdint>
#include <vector>

#include "node_compiler/graph.hpp"

namespace core {

// The breadth-first topological order of the ids (including ids that only
// edges name); throws ValueError "Node graph contains a cycle".
std::vector<uint32_t> order_nodes(const NodeGraph& graph);

}  // namespace core
