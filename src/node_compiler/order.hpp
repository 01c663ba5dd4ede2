#pragma once

#include <cstdint>
#include <vector>

#include "node_compiler/graph.hpp"

namespace core {

// The breadth-first topological order of the ids (including ids that only
// edges name); throws ValueError "Node graph contains a cycle".
std::vector<uint32_t> order_nodes(const NodeGraph& graph);

// The same walk without the check: when it holds fewer ids than the graph
// has nodes, order_nodes reports a cycle. Unless `by_position`, the ids
// that one id's edges reach are taken in edge order, which gives the same
// count sooner.
std::vector<uint32_t> walk_nodes(const NodeGraph& graph, bool by_position);

}  // namespace core
