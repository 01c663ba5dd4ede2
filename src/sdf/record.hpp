// The 48-byte primitive record shared with the GPU shader and the collider.
// Every field is little-endian at a fixed offset; the records of a scene are
// laid end to end with nothing between them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/little_endian.hpp"

namespace core::record {

constexpr std::size_t kSize = 48;

// Byte offsets. smooth_k sits before params[3]: the shader struct declares
// the blend factor right after the first three parameters.
constexpr std::size_t kCenterX = 0;
constexpr std::size_t kCenterY = 4;
constexpr std::size_t kCenterZ = 8;
constexpr std::size_t kParam0 = 12;
constexpr std::size_t kParam1 = 16;
constexpr std::size_t kParam2 = 20;
constexpr std::size_t kSmoothK = 24;
constexpr std::size_t kParam3 = 28;
constexpr std::size_t kType = 32;
constexpr std::size_t kCsgOp = 36;
constexpr std::size_t kPadding = 40;  // 8 zero bytes up to kSize

// Type codes.
constexpr uint32_t kSphere = 0;
constexpr uint32_t kBox = 1;
constexpr uint32_t kCylinder = 2;
constexpr uint32_t kCapsule = 3;
constexpr uint32_t kCone = 4;
constexpr uint32_t kTorus = 5;
constexpr uint32_t kPlane = 6;
constexpr uint32_t kRoundedBox = 7;

}  // namespace core::record
