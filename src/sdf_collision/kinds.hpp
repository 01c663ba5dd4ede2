// The primitive kinds of the scene field: each kind's type codes, its columns
// and its formula, shared by every width of lanes.
#pragma once

#include <algorithm>
#include <cmath>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "sdf/record.hpp"
#include "sdf_collision/lanes.hpp"
#include "sdf_collision/scene_field.hpp"
#include "sdf_collision/shapes.hpp"

namespace core::field {
inline namespace CORE_LANES_ISA {
// Each kind: the record type codes it holds, and its formula over `c`, its
// columns of one record or of a block of lanes, at the point (x, y, z); the
// columns are those SceneField's decoder gives. kNegativeZero tells whether
// the formula can give -0. Only the plane's can: every other formula ends in
// `sqrt(sum) - c` or `m + sqrt(sum)`, whose sum of squares is never -0, and a
// difference or sum is -0 only when its first operand is -0. The rest of the field reaches
// the kinds through kinds() below, never by listing them.
// lipschitz(c) bounds how fast the formula, computed exactly, changes with
// the point: by at most that much per unit of distance moved.
template <SceneField::Kind>
struct Shape;

template <>
struct Shape<SceneField::kSpheres> {
    static constexpr uint32_t kCodes[] = {record::kSphere};
    static constexpr std::size_t kColumns = 4;
    static constexpr bool kNegativeZero = false;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::sphere(x - c[0], y - c[1], z - c[2], c[3]);
    }
    static double lipschitz(const auto&) noexcept { return 1.0; }
};

template <>
struct Shape<SceneField::kBoxes> {
    static constexpr uint32_t kCodes[] = {record::kBox, record::kRoundedBox};
    static constexpr std::size_t kColumns = 7;
    static constexpr bool kNegativeZero = false;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::rounded_box(x - c[0], y - c[1], z - c[2], c[3], c[4], c[5], c[6]);
    }
    // The distance to a box: within it the largest axis term, outside the
    // length of the positive terms, the two meeting where both are zero.
    static double lipschitz(const auto&) noexcept { return 1.0; }
};

template <>
struct Shape<SceneField::kCylinders> {
    static constexpr uint32_t kCodes[] = {record::kCylinder};
    static constexpr std::size_t kColumns = 5;
    static constexpr bool kNegativeZero = false;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::cylinder(x - c[0], y - c[1], z - c[2], c[3], c[4]);
    }
    // The box's rule in the plane of (radial distance, height).
    static double lipschitz(const auto&) noexcept { return 1.0; }
};

template <>
struct Shape<SceneField::kCapsules> {
    static constexpr uint32_t kCodes[] = {record::kCapsule};
    static constexpr std::size_t kColumns = 8;
    static constexpr bool kNegativeZero = false;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::capsule(x - c[0], y - c[1], z - c[2], c[3], c[4], c[5], c[6], c[7]);
    }
    static double lipschitz(const auto&) noexcept { return 1.0; }
};

template <>
struct Shape<SceneField::kCones> {
    static constexpr uint32_t kCodes[] = {record::kCone};
    static constexpr std::size_t kColumns = 6;
    static constexpr bool kNegativeZero = false;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::cone(x - c[0], y - c[1], z - c[2], c[3], c[4], c[5]);
    }
    // (a1, a2) turns (radial distance, height) by the angle; the sum of its
    // two terms can grow along both axes at once: at most sqrt(2) per unit.
    static double lipschitz(const auto&) noexcept { return 2.0; }
};

template <>
struct Shape<SceneField::kTori> {
    static constexpr uint32_t kCodes[] = {record::kTorus};
    static constexpr std::size_t kColumns = 5;
    static constexpr bool kNegativeZero = false;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::torus(x - c[0], y - c[1], z - c[2], c[3], c[4]);
    }
    static double lipschitz(const auto&) noexcept { return 1.0; }
};

template <>
struct Shape<SceneField::kPlanes> {
    static constexpr uint32_t kCodes[] = {record::kPlane};
    static constexpr std::size_t kColumns = 4;
    static constexpr bool kNegativeZero = true;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::plane(x, y, z, c[0], c[1], c[2], c[3]);
    }
    // The normal's length, as it is used unnormalised.
    static double lipschitz(const auto& c) noexcept {
        return std::sqrt(double{c[0]} * c[0] + double{c[1]} * c[1] + double{c[2]} * c[2]);
    }
};

// Calls `f.template operator()<K...>()` with every kind, in kind order.
template <class F>
constexpr decltype(auto) kinds(F&& f) {
    return [&]<std::size_t... K>(std::index_sequence<K...>) -> decltype(auto) {
        return f.template operator()<static_cast<SceneField::Kind>(K)...>();
    }(std::make_index_sequence<SceneField::kKinds>{});
}

constexpr auto kColumns =
    kinds([]<SceneField::Kind... K>() { return std::array{Shape<K>::kColumns...}; });

}  // namespace CORE_LANES_ISA
}  // namespace core::field
