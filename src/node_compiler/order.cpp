// Breadth-first topological order with document positions as the tie-break.
#include <algorithm>
#include <limits>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "node_compiler/order.hpp"

namespace core {

std::vector<uint32_t> order_nodes(const NodeGraph& graph) {
    std::vector<uint32_t> order = walk_nodes(graph, true);
    if (order.size() != graph.nodes.size()) throw ValueError("Node graph contains a cycle");
    return order;
}

std::vector<uint32_t> walk_nodes(const NodeGraph& graph, bool by_position) {
    constexpr uint32_t kAbsent = std::numeric_limits<uint32_t>::max();
    const std::size_t n_ids = graph.ids.size();

    // Position of the last node with each id; ids only edges name sort last.
    std::vector<uint32_t> position(n_ids, kAbsent);
    for (uint32_t i = 0; i < graph.nodes.size(); ++i) position[graph.nodes[i].id] = i;

    // An id named only as an edge's source has no in-degree at all: it never
    // enters the ready queue, and neither do its successors through it.
    std::vector<uint32_t> in_degree(n_ids, 0);

    // Successor lists in edge order, packed: those of id k are
    // successors[start[k] .. start[k + 1]).
    std::vector<uint32_t> start(n_ids + 1, 0);
    for (const Edge& e : graph.edges) {
        ++in_degree[e.to_node];
        ++start[e.from_node + 1];
    }
    for (std::size_t k = 0; k < n_ids; ++k) start[k + 1] += start[k];
    std::vector<uint32_t> successors(graph.edges.size());
    {
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (const Edge& e : graph.edges) successors[fill[e.from_node]++] = e.to_node;
    }

    // The queue only grows at the back, so the emission order is the queue
    // itself and its head an index into it. Nodes in document order whose
    // position is their own are the distinct ids, already sorted.
    std::vector<uint32_t> queue;
    queue.reserve(n_ids);
    InterruptPoll<(1u << 16)> poll;
    for (uint32_t i = 0; i < graph.nodes.size(); ++i) {
        const uint32_t id = graph.nodes[i].id;
        if (position[id] == i && in_degree[id] == 0) queue.push_back(id);
    }
    auto by_order = [&](uint32_t a, uint32_t b) { return position[a] < position[b]; };
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const uint32_t id = queue[head];
        // Each id is taken at most once, so its list is sorted in place.
        auto first = successors.begin() + start[id];
        auto last = successors.begin() + start[id + 1];
        if (by_position) std::stable_sort(first, last, by_order);
        for (auto s = first; s != last; ++s) {
            if (--in_degree[*s] == 0) queue.push_back(*s);
        }
        poll.tick(static_cast<uint64_t>(last - first) + 1);
    }
    return queue;
}

}  // namespace core
