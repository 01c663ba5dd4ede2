// The node-graph checker (gfxcore.check_node_graph): one decode and one walk
// over the records, finding every fault that compile_node_graph passes
// through to the WGSL it emits. Each problem is returned as its rule and the
// pieces of the document it names; gfxcore words it. Only gfxcore's module
// compiles this; _core has no member for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace core {

// None, a text of the document (cut to kPreviewLength characters where the
// message quotes only its start), a count or position, or a number.
using ProblemField = std::variant<std::monostate, std::string, int64_t, double>;

struct Problem {
    // A node is given as two fields, its id and its type's text; an edge as
    // five, its position and its four texts.
    enum Rule : uint8_t {
        kRefused,          // message: compile_node_graph refuses the document
        kDuplicateId,      // id, positions ("0, 3")
        kNotIdentifier,    // node
        kMaybeIdentifier,  // node, with the whole id: text beyond ASCII, left to Python's rule
        kFunctionName,     // node, variable
        kSameVariable,     // node, node, variable
        kHidesName,        // node, variable, the node after it that uses the name
        kUnknownType,      // node
        kUnknownParam,     // node, key
        kNotText,          // node, key, value as JSON
        kNotSwizzle,       // node, key, text, the letter sets
        kNotNumber,        // node, key, text or None, value as JSON or None
        kNotFinite,        // node, key, value as JSON
        kMinAboveMax,      // node, min, max
        kNoNode,           // edge, id
        kNoOutput,         // edge, node
        kNoOutputPort,     // edge, node
        kNoInputPort,      // edge, node
        kAlreadyFed,       // edge, node, the first edge
        kCycle,            // nodes waiting (count), their first ids
        kCycleMiscounted,  //
        kMisfit,           // node, then per input: its type, the id feeding it or None
        kNoFinalColor,     //
    };
    Rule rule;
    std::vector<ProblemField> fields;
};

// The rule's name, as gfxcore looks it up.
std::string_view rule_name(Problem::Rule rule);

// The problems of the document in a stable order; empty when the emitted
// WGSL compiles. Throws Interrupted when the caller's stop flag is raised.
std::vector<Problem> check_node_graph(std::string_view json);

}  // namespace core
