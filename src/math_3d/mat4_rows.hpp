// Mat4x4::transform_point / transform_direction over packed rows of three
// floats, four rows at a time in vector lanes where the CPU family has them,
// each lane rounding every operation as the one-row formula does.
#pragma once

#include <cstddef>

#include "math_3d/mat4.hpp"

namespace core {

// Rows [0, n) of `in` transformed into `out` (n rows of three floats each;
// the two must not overlap). `translate` adds the translation column (a
// point) or not (a direction). `stream` writes past the caches, for outputs
// too large to be read again soon, and asks for the input ahead. Returns
// whether any result is NaN: those rows need the one compiled copy of the
// formula for their NaN bits.
bool transform_rows(const Mat4x4& m, bool translate, const float* in, float* out, std::size_t n,
                    bool stream) noexcept;

}  // namespace core
