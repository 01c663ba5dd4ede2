// The decoded node-graph document. Ids are interned while decoding: every
// distinct id text, whether a node or only an edge names it, gets one dense
// index, so ordering and emission work on arrays instead of hash tables.
// Only what emission can observe is kept: the input ports and parameter keys
// that some node type reads; every other port and key is parsed and dropped.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "node_compiler/id_table.hpp"

namespace core {

enum class NodeType : uint8_t {
    UV,
    SampleTexture,
    PixelColor,
    PixelChannel,
    Lerp,
    Add,
    Multiply,
    Clamp,
    GravityWarp,
    Discard,
    FinalColor,
    Unknown,
};

// Input ports some node type reads; kPortCount marks any other port name.
enum Port : uint8_t { kPortUv, kPortA, kPortB, kPortT, kPortVal, kPortColor, kPortCount };

// Parameter keys some node type reads; kParamCount marks any other key.
enum ParamKey : uint8_t {
    kParamChannel,
    kParamMin,
    kParamMax,
    kParamStrength,
    kParamRadius,
    kParamCount,
};

struct ParamValue {
    enum Kind : uint8_t { Absent, Unsigned, Signed, Float, Text, Other };
    Kind kind = Absent;
    uint64_t u = 0;
    int64_t i = 0;
    double f = 0.0;
    std::string_view text;
};

struct Param {
    ParamKey key;
    ParamValue value;
};

struct Node {
    uint32_t id;
    NodeType type;
    std::string_view type_text;  // for the unknown-type message
    uint32_t first_param;        // into NodeGraph::params
    uint8_t param_count;
};

struct Edge {
    uint32_t from_node;
    uint32_t to_node;
    uint32_t from_port;  // into NodeGraph::ports
    Port to_port;
};

struct NodeGraph {
    IdTable ids;
    IdTable ports;            // the texts of from_port
    std::vector<Node> nodes;  // document order
    std::vector<Edge> edges;  // document order
    std::vector<Param> params;
    // Type and parameter texts that could not stay views into the document
    // (escaped or split strings); a deque so that views into it survive growth.
    std::deque<std::string> owned;
};

// Decodes the JSON document; throws ValueError with "{} at line {} column {}".
// The graph's views point into `json` and into the graph itself.
NodeGraph decode_node_graph(std::string_view json);

// The breadth-first topological order of the ids (including ids that only
// edges name); throws ValueError "Node graph contains a cycle".
std::vector<uint32_t> order_nodes(const NodeGraph& graph);

// The whole compile: decode, order, emit.
std::string compile_node_graph(std::string_view json);

}  // namespace core
