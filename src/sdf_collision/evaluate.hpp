// CPU evaluation of a scene buffer's signed distance field, read in place
// from the 48-byte records. Every step is a separately rounded float
// operation, in the order written, so results match the shader's field bit
// for bit where the GPU honours IEEE rounding.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>

namespace core {

// Distance of an empty scene and of a record with an unknown type code.
constexpr float kEmptyDistance = std::numeric_limits<float>::max();

// Signed distance of (px, py, pz) to the primitive in the 48 bytes at `record`.
float primitive_distance(const uint8_t* record, float px, float py, float pz) noexcept;

// The union (minimum) over all complete records; a trailing partial record
// is ignored. NaN distances never win, so the result is never NaN.
float scene_distance(std::span<const uint8_t> buffer, float px, float py, float pz) noexcept;

// Outward normal by central differences; (0, 1, 0) where the gradient
// vanishes or its length is not a number. Near the float limit the length
// can overflow to infinity instead: each component is then its difference
// divided by infinity, 0 for a finite one and NaN for an infinite one, and
// that is what is returned.
std::array<float, 3> scene_normal(std::span<const uint8_t> buffer, float px, float py,
                                  float pz) noexcept;

}  // namespace core
