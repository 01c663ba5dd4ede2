// The point-set functions (convex_hull, bounding_box) over (n, 2) arrays,
// and the outline pixels of an image array.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core_call.hpp"
#include "groups.hpp"
#include "hull/bounding_box.hpp"
#include "hull/convex_hull.hpp"
#include "inputs.hpp"
#include "outputs.hpp"
#include "parallel.hpp"
#include "scalars.hpp"

namespace core::arrays {
namespace {

// Below this many points a hull takes well under the tenth of a second a
// Ctrl-C may wait, so it runs on the calling thread.
constexpr std::size_t kLongHull = 1 << 16;

// The rows of `points` as the list of (x, y) pairs _core reads.
std::vector<Point> point_list(nb::handle points, nb::handle workers) {
    const FloatRows in(points, "points", 2);
    const int threads = checked_workers(workers);
    std::vector<Point> list(in.rows());
    in.visit([&](auto load) {
        parallel_for(list.size(), 1 << 15, threads,
                     [&](std::size_t begin, std::size_t end) noexcept {
                         for (std::size_t i = begin; i < end; ++i)
                             list[i] = {load(i, 0), load(i, 1)};
                     });
    });
    return list;
}

nb::object point_array(const std::vector<Point>& points) {
    NewArray<float> out = new_array<float>({points.size(), 2});
    if (!points.empty()) std::memcpy(out.data, points.data(), points.size() * sizeof(Point));
    return out.array;
}

nb::object convex_hull(nb::handle points, nb::handle workers) {
    std::vector<Point> list = point_list(points, workers);
    const Length length = list.size() >= kLongHull ? Length::kLong : Length::kShort;
    return point_array(core_call(length, checked_workers(workers),
                                 [&] { return core::convex_hull(std::move(list)); }));
}

nb::tuple bounding_box(nb::handle points, nb::handle workers) {
    const std::vector<Point> list = point_list(points, workers);
    const auto box = core_call(Length::kShort, [&] { return core::bounding_box(list); });
    return nb::make_tuple(box[0], box[1], box[2], box[3]);
}

// An image of shape (h, w) or (h, w, c) of any number dtype, read at one
// channel as float32 (a uint8 image compares in its own units).
class Image {
public:
    Image(nb::handle o, nb::handle channel_object) : array_(o, "image", kExpected) {
        if (!is_number(array_.dtype())) array_.refuse_dtype(kExpected);
        if (array_.ndim() != 2 && array_.ndim() != 3) array_.refuse_shape("(h, w) or (h, w, c)");
        height = array_.shape(0);
        width = array_.shape(1);
        const std::size_t channels = array_.ndim() == 3 ? array_.shape(2) : 1;
        const long channel = channel_arg(channel_object, channels);
        row_step_ = array_.stride(0);
        col_step_ = array_.stride(1);
        base_ = array_.data();
        if (array_.ndim() == 3) base_ += channel * array_.stride(2);
        dtype_ = array_.dtype();
    }

    std::size_t height = 0, width = 0;

    // Whether each pixel of row y is active (value > threshold).
    void active_row(std::size_t y, float threshold, std::uint8_t* out) const noexcept {
        const std::uint8_t* p = base_ + static_cast<std::int64_t>(y) * row_step_;
        if (dtype_.native(Kind::kFloat, 4)) return read_row<float>(p, threshold, out);
        if (dtype_.native(Kind::kFloat, 8)) return read_row<double>(p, threshold, out);
        if (dtype_.native(Kind::kUnsigned, 1)) return read_row<std::uint8_t>(p, threshold, out);
        for (std::size_t x = 0; x < width; ++x)
            out[x] = number_at(p + static_cast<std::int64_t>(x) * col_step_, dtype_) > threshold;
    }

private:
    static constexpr const char* kExpected = "an array of numbers";

    static long channel_arg(nb::handle o, std::size_t channels) {
        const long most = static_cast<long>(channels) - 1;
        const std::string expected = "0 <= channel < " + std::to_string(channels);
        return index_arg(o, "channel", 0, most, expected.c_str());
    }

    // float32 and float64 read as they are, uint8 exactly as float32.
    template <class T>
    void read_row(const std::uint8_t* p, float threshold, std::uint8_t* out) const noexcept {
        if (col_step_ == static_cast<std::int64_t>(sizeof(T))) {
            for (std::size_t x = 0; x < width; ++x) {
                T v;
                std::memcpy(&v, p + x * sizeof(T), sizeof v);
                out[x] = static_cast<float>(v) > threshold;
            }
            return;
        }
        for (std::size_t x = 0; x < width; ++x) {
            T v;
            std::memcpy(&v, p + static_cast<std::int64_t>(x) * col_step_, sizeof v);
            out[x] = static_cast<float>(v) > threshold;
        }
    }

    ArrayArg array_;
    const std::uint8_t* base_ = nullptr;
    std::int64_t row_step_ = 0, col_step_ = 0;
    Dtype dtype_;
};

// Active pixels with an inactive or missing 4-neighbour, as the per-pixel
// function finds them in a complete image: every pixel of the first and
// last row and column is on the outline.
nb::object pixel_edge_points(nb::handle image, nb::handle threshold_object,
                             nb::handle channel_object, nb::handle workers) {
    const Image img(image, channel_object);
    const float threshold = float_arg(threshold_object, "threshold");
    const int threads = checked_workers(workers);
    const std::size_t h = img.height, w = img.width;
    if (h == 0 || w == 0) return point_array({});

    // Rows in blocks of about 8k pixels; each block keeps its own edges.
    const std::size_t rows = std::max<std::size_t>(1, (1 << 13) / w);
    const std::size_t blocks = (h + rows - 1) / rows;
    std::vector<std::vector<Point>> found(blocks);
    std::atomic<bool> failed{false};
    parallel_for(blocks, 8, threads, [&](std::size_t begin, std::size_t end) noexcept {
        try {
            std::vector<std::uint8_t> above(w), here(w), below(w);
            std::vector<Point> scratch(rows * w);
            for (std::size_t b = begin; b < end; ++b) {
                const std::size_t y0 = b * rows, y1 = std::min(h, y0 + rows);
                // Room for every pixel of the block; each is written and
                // kept or not without a branch (half the pixels of a noisy
                // image are edges, at random).
                std::size_t kept = 0;
                if (y0 > 0) img.active_row(y0 - 1, threshold, above.data());
                img.active_row(y0, threshold, here.data());
                for (std::size_t y = y0; y < y1; ++y) {
                    const bool inner_row = y > 0 && y + 1 < h;
                    if (y + 1 < h) img.active_row(y + 1, threshold, below.data());
                    const float fy = static_cast<float>(y);
                    for (std::size_t x = 0; x < w; ++x) {
                        const bool inner = inner_row && x > 0 && x + 1 < w;
                        const bool enclosed =
                            inner & (here[x - inner] & here[x + inner] & above[x] & below[x]);
                        scratch[kept] = {static_cast<float>(x), fy};
                        kept += here[x] & !enclosed;
                    }
                    std::swap(above, here);
                    std::swap(here, below);
                }
                found[b].assign(scratch.begin(), scratch.begin() + kept);
            }
        } catch (...) {
            failed.store(true);
        }
    });
    if (failed.load()) throw std::bad_alloc();
    std::size_t total = 0;
    for (const auto& edges : found) total += edges.size();
    NewArray<float> out = new_array<float>({total, 2});
    float* at = out.data;
    for (const auto& edges : found) {
        if (edges.empty()) continue;
        std::memcpy(at, edges.data(), edges.size() * sizeof(Point));
        at += 2 * edges.size();
    }
    return out.array;
}

}  // namespace

void register_points(nb::module_& m) {
    const auto workers = (nb::arg("workers").none() = nb::none());
    m.def("convex_hull", &convex_hull, nb::arg("points").none(), nb::kw_only(), workers,
          nb::sig("def convex_hull(points: ArrayLike, *, workers: int | None = None) -> "
                  "NDArray[numpy.float32]"),
          "The convex hull of the rows of `points` (shape (n, 2)), as\n"
          "`_core.convex_hull` gives it for the list of rows: a (k, 2) float32\n"
          "array, counter-clockwise from the lowest point; the same ValueError\n"
          "for a NaN or an orientation it cannot decide.");
    m.def("bounding_box", &bounding_box, nb::arg("points").none(), nb::kw_only(), workers,
          nb::sig("def bounding_box(points: ArrayLike, *, workers: int | None = None) -> "
                  "tuple[float, float, float, float]"),
          "`(min_x, min_y, max_x, max_y)` of the rows of `points` (shape (n, 2)),\n"
          "as `_core.bounding_box` gives it for the list of rows.");
    m.def("pixel_edge_points", &pixel_edge_points, nb::arg("image").none(), nb::arg("threshold").none(),
          nb::arg("channel").none() = 0, nb::kw_only(), workers,
          nb::sig("def pixel_edge_points(image: ArrayLike, threshold: float, channel: int = 0, "
                  "*, workers: int | None = None) -> NDArray[numpy.float32]"),
          "The outline pixels of `image` (shape (h, w), or (h, w, c) read at\n"
          "`channel`): each pixel whose value is above `threshold` and that has\n"
          "a 4-neighbour not above it, or lies on the image's border, as (x, y)\n"
          "in row-major order; a (k, 2) float32 array, the points\n"
          "`_core.pixel_edge_points` gives for the flattened image.");
}

}  // namespace core::arrays
