// Axis-aligned extent of a point set.
#pragma once

#include <array>
#include <vector>

#include "hull/convex_hull.hpp"

namespace core {

// (min_x, min_y, max_x, max_y); all zeros for no points. NaN coordinates
// never replace a bound, so a set of NaNs keeps the +-FLT_MAX start values.
std::array<float, 4> bounding_box(const std::vector<Point>& points);

}  // namespace core
