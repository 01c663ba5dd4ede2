// Signed distance of a point to a primitive, on one float or on four lanes
// holding four primitives of one kind. Each formula is written once, in the
// order the shader evaluates it: sums left to right, every operation rounded
// on its own. Arguments are the point minus the primitive's reference point,
// then the primitive's constants as decoded at load.
#pragma once

#include "sdf_collision/lanes.hpp"

namespace core::shapes {
inline namespace CORE_LANES_ISA {

using lanes::abs;
using lanes::constant;
using lanes::max_num;
using lanes::min_num;
using lanes::pos_squared;
using lanes::select;
using lanes::sqrt;

template <class V>
inline V sq(V a) noexcept {
    return a * a;
}

template <class V>
inline V sphere(V dx, V dy, V dz, V radius) noexcept {
    return sqrt(sq(dx) + sq(dy) + sq(dz)) - radius;
}

// A plain box is a rounded box with rounding +0: subtracting +0 changes no
// bits, so both kinds share this formula.
template <class V>
inline V rounded_box(V dx, V dy, V dz, V hx, V hy, V hz, V rounding) noexcept {
    const V qx = abs(dx) - hx, qy = abs(dy) - hy, qz = abs(dz) - hz;
    const V inside = min_num(max_num(max_num(qx, qy), qz), constant<V>(0.0f));
    return (inside + sqrt(pos_squared(qx) + pos_squared(qy) + pos_squared(qz))) - rounding;
}

// Axis along Y; `half_height` measured from the centre.
template <class V>
inline V cylinder(V dx, V dy, V dz, V half_height, V radius) noexcept {
    const V e1 = sqrt(sq(dx) + sq(dz)) - radius;
    const V e2 = abs(dy) - half_height;
    return min_num(max_num(e1, e2), constant<V>(0.0f)) + sqrt(pos_squared(e2) + pos_squared(e1));
}

// `pa` is the point minus end A; `ba` (B - A) and `bb` (|B - A|²) are
// per-record constants. The projection is clamped to the segment, a NaN
// projection stays NaN, and a degenerate segment (bb not > 0) projects to A.
template <class V>
inline V capsule(V pax, V pay, V paz, V bax, V bay, V baz, V bb, V radius) noexcept {
    const V zero = constant<V>(0.0f), one = constant<V>(1.0f);
    V t = (pax * bax + pay * bay + paz * baz) / bb;
    t = select(t < zero, zero, t);
    t = select(one < t, one, t);
    t = select(zero < bb, t, zero);
    return sqrt(sq(pax - bax * t) + sq(pay - bay * t) + sq(paz - baz * t)) - radius;
}

// Axis along Y, apex at the centre. `sn` and `cs` are the sine and cosine of
// the angle and `k` the height divided by `cs`, all taken once at load.
template <class V>
inline V cone(V dx, V dy, V dz, V sn, V cs, V k) noexcept {
    const V q = sqrt(sq(dx) + sq(dz));
    const V a1 = cs * q - dy * sn;
    const V a2 = (dy * cs + sn * q) - k;
    return min_num(max_num(-a1, a2), constant<V>(0.0f)) + sqrt(pos_squared(a1) + pos_squared(a2));
}

// Ring in the XZ plane.
template <class V>
inline V torus(V dx, V dy, V dz, V major, V minor) noexcept {
    const V t = sqrt(sq(dx) + sq(dz)) - major;
    return sqrt(sq(dy) + sq(t)) - minor;
}

// Takes the point itself; the normal is used as stored, so its length
// scales the distance.
template <class V>
inline V plane(V px, V py, V pz, V nx, V ny, V nz, V offset) noexcept {
    return (px * nx + py * ny + pz * nz) - offset;
}

}  // namespace CORE_LANES_ISA
}  // namespace core::shapes
