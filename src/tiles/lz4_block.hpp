// Byte strings framed as a 4-byte little-endian uncompressed length followed
// by one LZ4 block, so that a reader needs nothing but the bytes themselves.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace core {

std::vector<uint8_t> lz4_compress(std::span<const uint8_t> data);
std::vector<uint8_t> lz4_decompress(std::span<const uint8_t> data);

// The most bytes an LZ4 block of `block_size` bytes can decode to, with room
// to spare past the end (see lz4_block.cpp).
uint64_t lz4_decoded_size_limit(uint64_t block_size) noexcept;

}  // namespace core
