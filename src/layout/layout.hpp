// Byte offsets of named channels in one element of a WGSL array<Struct>, and
// the struct declaration that matches them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "common/mapping.hpp"

namespace core {

using Channel = std::tuple<std::string, std::string>;  // name, type

// Each channel's offset (a repeated name keeps the later channel's offset),
// then "stride"; throws ValueError "Unknown WGSL type: {}".
Mapping<std::string, uint64_t> compute_layout(const std::vector<Channel>& channels);

std::string generate_wgsl_struct(std::string_view struct_name,
                                 const std::vector<Channel>& channels);

}  // namespace core
