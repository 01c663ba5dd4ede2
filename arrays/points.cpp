// The point-set functions (convex_hull, bounding_box) over (n, 2) arrays,
// and the outline pixels of an image array.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core_call.hpp"
#include "groups.hpp"
#include "hull/bounding_box.hpp"
#include "hull/convex_hull.hpp"
#include "hull/pixel_edges.hpp"
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

// From this many points a box takes a millisecond or more, in one piece: it
// runs detached, so that Ctrl-C answers at once.
constexpr std::size_t kLongBox = 1 << 20;

nb::tuple bounding_box(nb::handle points, nb::handle workers) {
    std::vector<Point> list = point_list(points, workers);
    const auto box =
        list.size() >= kLongBox
            ? detached_call([list = std::move(list)] { return core::bounding_box(list); })
            : core_call(Length::kShort, [&] { return core::bounding_box(list); });
    return nb::make_tuple(box[0], box[1], box[2], box[3]);
}

// An image of shape (h, w) or (h, w, c) of any number dtype, read at one
// channel as float32 (a uint8 image compares in its own units).
class Image {
public:
    Image(nb::handle o, nb::handle channel_object) : array_(o, "image", kExpected) {
        if (!is_number(array_.dtype())) array_.refuse_dtype(kExpected);
        if (array_.ndim() != 2 && array_.ndim() != 3) array_.refuse_shape("(h, w) or (h, w, c)");
        view.height = array_.shape(0);
        view.width = array_.shape(1);
        const std::size_t channels = array_.ndim() == 3 ? array_.shape(2) : 1;
        const long channel = channel_arg(channel_object, channels);
        view.row_step = array_.stride(0);
        view.col_step = array_.stride(1);
        view.base = array_.data();
        if (array_.ndim() == 3) view.base += channel * array_.stride(2);
        dtype_ = array_.dtype();
        using Format = ImageChannel::Format;
        if (dtype_.native(Kind::kFloat, 4)) {
            view.format = Format::kFloat32;
        } else if (dtype_.native(Kind::kFloat, 8)) {
            view.format = Format::kFloat64;
        } else if (dtype_.native(Kind::kUnsigned, 1)) {
            view.format = Format::kUint8;
        } else {
            view.format = Format::kOther;
            view.read = [](const unsigned char* p, const void* dtype) noexcept {
                return number_at(p, *static_cast<const Dtype*>(dtype));
            };
            view.context = &dtype_;
        }
    }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    ImageChannel view;

private:
    static constexpr const char* kExpected = "an array of numbers";

    static long channel_arg(nb::handle o, std::size_t channels) {
        const long most = static_cast<long>(channels) - 1;
        const std::string expected = "0 <= channel < " + std::to_string(channels);
        return index_arg(o, "channel", 0, most, expected.c_str());
    }

    ArrayArg array_;
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
    if (img.view.height == 0 || img.view.width == 0) return point_array({});

    // Every step works on ranges of words (64 pixels of a row), so a block
    // is bounded whatever the image's shape and Ctrl-C is seen in time.
    constexpr std::size_t kChunk = 1024;
    OutlineBits bits(img.view.height, img.view.width);
    const std::size_t words = bits.words();
    const std::size_t chunks = (words + kChunk - 1) / kChunk;
    parallel_for(words, kChunk, threads, [&](std::size_t begin, std::size_t end) noexcept {
        bits.threshold(img.view, threshold, begin, end);
    });
    std::vector<std::size_t> offsets(chunks + 1, 0);
    parallel_for(chunks, 4, threads, [&](std::size_t begin, std::size_t end) noexcept {
        for (std::size_t c = begin; c < end; ++c)
            offsets[c + 1] = bits.count(c * kChunk, std::min(words, (c + 1) * kChunk));
    });
    for (std::size_t c = 0; c < chunks; ++c) offsets[c + 1] += offsets[c];
    NewArray<float> out = new_array<float>({offsets[chunks], 2});
    Point* points = reinterpret_cast<Point*>(out.data);
    parallel_for(chunks, 4, threads, [&](std::size_t begin, std::size_t end) noexcept {
        for (std::size_t c = begin; c < end; ++c)
            bits.emit(c * kChunk, std::min(words, (c + 1) * kChunk), points + offsets[c]);
    });
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
          "array, counter-clockwise from the lowest point (the scan's result when it\n"
          "is convex and contains every point, else the exact hull, as there); the\n"
          "same ValueError for a NaN, an infinite coordinate or coordinates too large\n"
          "for the orientation test that make an orientation undefined.");
    m.def("bounding_box", &bounding_box, nb::arg("points").none(), nb::kw_only(), workers,
          nb::sig("def bounding_box(points: ArrayLike, *, workers: int | None = None) -> "
                  "tuple[float, float, float, float]"),
          "`(min_x, min_y, max_x, max_y)` of the rows of `points` (shape (n, 2)),\n"
          "as `_core.bounding_box` gives it for the list of rows.");
    m.def("pixel_edge_points", &pixel_edge_points, nb::arg("image").none(),
          nb::arg("threshold").none(), nb::arg("channel").none() = 0, nb::kw_only(), workers,
          nb::sig("def pixel_edge_points(image: ArrayLike, threshold: float, channel: int = 0, "
                  "*, workers: int | None = None) -> NDArray[numpy.float32]"),
          "The outline pixels of `image` (shape (h, w), or (h, w, c) read at\n"
          "`channel`): each pixel whose value is above `threshold` and that has\n"
          "a 4-neighbour not above it, or lies on the image's border, as (x, y)\n"
          "in row-major order; a (k, 2) float32 array, the points\n"
          "`_core.pixel_edge_points` gives for the flattened image.");
}

}  // namespace core::arrays
