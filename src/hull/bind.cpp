// Python surface of the point-set functions.
#include "hull/bounding_box.hpp"
#include "hull/convex_hull.hpp"
#include "hull/pixel_edges.hpp"
#include "module/bind.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

const Registration hull{"convex_hull", [](PyObject* m) {
    return function<&convex_hull>(
        m, "convex_hull(points)",
        "Convex hull via Graham scan. Input: list of (x, y) f32 tuples.\n"
        "Returns ordered boundary points (counter-clockwise).");
}};

const Registration box{"bounding_box", [](PyObject* m) {
    return function<&bounding_box>(
        m, "bounding_box(points)",
        "Axis-aligned bounding box of a point set.\n"
        "Returns (min_x, min_y, max_x, max_y).");
}};

const Registration edges{"pixel_edge_points", [](PyObject* m) {
    return function<&pixel_edge_points>(
        m,
        "pixel_edge_points(pixel_data, pixel_count, stride_floats, channel_offset_f32, "
        "threshold, width)",
        "Extract edge pixel coordinates from a flat buffer of PixelData structs.\n"
        "\n"
        "pixel_data: flat list of f32 values (stride_floats per pixel)\n"
        "pixel_count: number of pixels\n"
        "stride_floats: number of f32 values per pixel\n"
        "channel_offset_f32: which f32 index within stride is the filter channel\n"
        "threshold: pixels with channel_value > threshold are considered \"active\"\n"
        "width: image width (to compute 2D coords)\n"
        "\n"
        "Returns list of (x, y) edge pixel coordinates (pixels adjacent to inactive pixels).");
}};

}  // namespace
}  // namespace core
