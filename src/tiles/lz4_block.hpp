// Byte strings framed as a 4-byte little-endian uncompressed length followed
// by one LZ4 block, so that a reader needs nothing but the bytes themselves.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace core {

std::vector<uint8_t> lz4_compress(std::span<const uint8_t> data);
std::vector<uint8_t> lz4_decompress(std::span<const uint8_t> data);

}  // namespace core
