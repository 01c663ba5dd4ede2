#include "hull/bounding_box.hpp"

#include <limits>

namespace core {

std::array<float, 4> bounding_box(const std::vector<Point>& points) {
    if (points.empty()) return {0.0f, 0.0f, 0.0f, 0.0f};
    constexpr float kMax = std::numeric_limits<float>::max();
    float min_x = kMax, min_y = kMax, max_x = -kMax, max_y = -kMax;
    for (const Point& p : points) {
        if (p[0] < min_x) min_x = p[0];
        if (p[1] < min_y) min_y = p[1];
        if (p[0] > max_x) max_x = p[0];
        if (p[1] > max_y) max_y = p[1];
    }
    return {min_x, min_y, max_x, max_y};
}

}  // namespace core
