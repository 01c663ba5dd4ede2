// Byte offsets of named channels in one element of a WGSL array<Struct>, and
// the struct declaration that matches them.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace core {

using Channel = std::tuple<std::string, std::string>;  // name, type

// Each channel's offset (a repeated name keeps the later channel's offset),
// then "stride"; throws ValueError "Unknown WGSL type: {}".
std::vector<std::pair<std::string, uint64_t>> channel_offsets(const std::vector<Channel>& channels);

std::string generate_wgsl_struct(std::string_view struct_name, const std::vector<Channel>& channels);

}  // namespace core
