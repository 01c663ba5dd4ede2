#pragma once

#include <string>
#include <string_view>

namespace core {

// The whole compile: decode, order, emit.
std::string compile_node_graph(std::string_view json);

}  // namespace core
