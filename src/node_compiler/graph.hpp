// The decoded node-graph document. Ids are interned while decoding: every
// distinct id text, whether a node or only an edge names it, gets one dense
// index, so ordering and emission work on arrays instead of hash tables.
// Only what emission can observe is kept: the input ports and parameter keys
// that some node type reads; every other port and key is parsed and dropped
// (other keys only counted, for the checker).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "node_compiler/catalogue.hpp"
#include "node_compiler/id_table.hpp"

namespace core {

struct ParamValue {
    enum Kind : uint8_t { Absent, Unsigned, Signed, Float, Text, Other };
    Kind kind = Absent;
    uint64_t u = 0;
    int64_t i = 0;
    double f = 0.0;
    std::string_view text;
};

struct Param {
    uint8_t key;  // into kParamKeys
    ParamValue value;
};

struct Node {
    uint32_t id;
    uint8_t type;                // into kNodeSpecs; kNodeTypeCount when unknown
    std::string_view type_text;  // for the unknown-type message
    uint32_t first_param;        // into NodeGraph::params
    uint8_t param_count;
};

struct Edge {
    uint32_t from_node;
    uint32_t to_node;
    uint32_t from_port;  // into NodeGraph::ports
    uint8_t to_port;     // into kInputPorts; kPortCount for any other name
};

struct NodeGraph {
    IdTable ids;
    IdTable ports;            // the texts of from_port
    std::vector<Node> nodes;  // document order
    std::vector<Edge> edges;  // document order
    std::vector<Param> params;
    std::size_t unread_params = 0;  // parameter keys that no node type reads
    // Type and parameter texts that could not stay views into the document
    // (escaped or split strings); a deque so that views into it survive growth.
    std::deque<std::string> owned;
};

}  // namespace core
