// Little-endian 32-bit values at any byte address, for data on the wire
// (GPU records, compression headers). Byte by byte: no alignment needed and
// the same result on any host.
#pragma once

#include <bit>
#include <cstdint>

namespace core {

inline uint32_t load_u32(const uint8_t* p) noexcept {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline float load_f32(const uint8_t* p) noexcept { return std::bit_cast<float>(load_u32(p)); }

inline void store_u32(uint8_t* p, uint32_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void store_f32(uint8_t* p, float v) noexcept { store_u32(p, std::bit_cast<uint32_t>(v)); }

}  // namespace core
