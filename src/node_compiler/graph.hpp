// The decoded node-graph document. Ids are interned while decoding: every
// distinct id text, whether a node or only an edge names it, gets one dense
// index, so ordering and emission work on arrays instead of hash tables.
// Emission reads only the input ports and parameter keys that some node type
// reads; the checker also sees every other parameter key, in the order the
// node's object first gives each key.
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
    // Text: the string. A number: its JSON text. Other (null, a boolean, a
    // list or an object): the value written back as compact JSON with
    // ", " and ": " separators and ASCII escapes, cut after kPreviewLength
    // characters, for messages.
    std::string_view text;
};

// The characters of a value or text a message may show; one more tells that
// it was cut.
inline constexpr std::size_t kPreviewLength = 81;

struct Param {
    uint8_t key;            // into kParamKeys; kParamCount for a key no node type reads
    std::string_view name;  // the key as given
    ParamValue value;       // the last one given for the key (Absent for other keys)
};

struct Node {
    uint32_t id;
    uint8_t type;                // into kNodeEntries; kNodeTypeCount when unknown
    std::string_view type_text;  // for the unknown-type message
    uint32_t first_param;        // into NodeGraph::params
    uint8_t param_count;
};

struct Edge {
    uint32_t from_node;
    uint32_t to_node;
    uint32_t from_port;             // into NodeGraph::ports
    uint8_t to_port;                // into kInputPorts; kPortCount for any other name
    std::string_view to_port_text;  // for the checker's messages
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

}  // namespace core
