// Graham scan over plain (x, y) pairs, counter-clockwise from the lowest point.
#pragma once

#include <array>
#include <vector>

namespace core {

using Point = std::array<float, 2>;

// Fewer than three points come back as given. The scan's result is returned
// when it is convex and contains every point by its own float32 tests, else
// the exact hull in the same form (lowest point first, counter-clockwise, no
// point on an edge). Throws ValueError when a coordinate is NaN or when an
// orientation test comes out NaN (infinite coordinates, or finite ones too
// large for the float32 cross product).
std::vector<Point> convex_hull(std::vector<Point> points);

}  // namespace core
