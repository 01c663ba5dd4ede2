// The bulk pass of gfxcore's node-graph checker: one decode and one walk
// over the records, in place of the checker's item-by-item look for a graph
// that has none of its faults. Only gfxcore's module compiles this; _core
// has no member for it.
#pragma once

#include <string_view>

namespace core {

// True when `json` compiles and the graph certainly has none of the faults
// the checker reports (ids and variables, parameters, edges, WGSL types, a
// FinalColor node). False means the checker must look item by item: it is
// also the answer for graphs the bulk rules leave to it (ids beyond ASCII,
// a repeated edge, a variable named like any of the shader's own).
// Throws Interrupted when the caller's stop flag is raised.
bool node_graph_is_clean(std::string_view json);

}  // namespace core
