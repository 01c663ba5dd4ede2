// Byte strings framed as a 4-byte little-endian uncompressed length followed
// by one LZ4 block, so that a reader needs nothing but the bytes themselves.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace core {

std::vector<uint8_t> lz4_compress(std::span<const uint8_t> data);
std::vector<uint8_t> lz4_decompress(std::span<const uint8_t> data);

// The same in two steps, for a caller that owns the output memory: the room
// to provide (throwing as the functions above do), then the work, which
// gives the length written.
std::size_t lz4_compress_room(std::span<const uint8_t> data);
std::size_t lz4_compress_into(std::span<const uint8_t> data, uint8_t* out);
std::size_t lz4_decompress_room(std::span<const uint8_t> data);
std::size_t lz4_decompress_into(std::span<const uint8_t> data, uint8_t* out, std::size_t room);

}  // namespace core
