// Outline pixels of one thresholded channel of a flat per-pixel float buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "hull/convex_hull.hpp"

namespace core {

// Active pixels (channel value > threshold) with an inactive or missing
// 4-neighbour, or in column 0, as (x, y) in row-major order. Values past the
// end of `pixel_data` (including channel indices beyond 64 bits) read as 0.0.
std::vector<Point> pixel_edge_points(const std::vector<float>& pixel_data, uint64_t pixel_count,
                                     uint64_t stride_floats, uint64_t channel_offset_f32,
                                     float threshold, uint64_t width);

}  // namespace core
