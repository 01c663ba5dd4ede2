#pragma once

#include <cmath>

namespace core {

// Sine and cosine of one angle, each from the C library's own single-precision
// function (sinf, cosf). Quaternions and cones are reproducible exactly as far
// as the C library is; on glibc these give the bits of its sincosf.
inline void sin_cos(float x, float& s, float& c) noexcept {
    s = std::sin(x);
    c = std::cos(x);
}

}  // namespace core
