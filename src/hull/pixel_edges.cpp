#include "hull/pixel_edges.hpp"

#include <algorithm>

#include "common/interrupt.hpp"

namespace core {
namespace {

// The channel values of the pixels that lie inside the list; every pixel at
// or past `stored` reads 0.0. Counting them by division never forms an index
// beyond the list, so no product can wrap.
struct Channel {
    const float* data;
    uint64_t stride;
    uint64_t stored;
    bool past_end_active;  // 0.0 > threshold

    Channel(const std::vector<float>& list, uint64_t stride, uint64_t offset, float threshold)
        : data(list.data() + std::min<uint64_t>(offset, list.size())),
          stride(stride),
          stored(offset < list.size() ? (list.size() - offset - 1) / stride + 1 : 0),
          past_end_active(0.0f > threshold) {}

    bool active(uint64_t i, float threshold) const {
        return i < stored ? data[i * stride] > threshold : past_end_active;
    }
};

}  // namespace

std::vector<Point> pixel_edge_points(const std::vector<float>& pixel_data, uint64_t pixel_count,
                                     uint64_t stride_floats, uint64_t channel_offset_f32,
                                     float threshold, uint64_t width) {
    std::vector<Point> edges;
    if (stride_floats == 0 || width == 0 || pixel_count == 0) return edges;
    const Channel channel(pixel_data, stride_floats, channel_offset_f32, threshold);
    const uint64_t height = pixel_count / width + (pixel_count % width != 0 ? 1 : 0);
    // When missing pixels cannot be active, nothing at or past `stored` can
    // be an edge, so the walk follows the list rather than `pixel_count`.
    const uint64_t end =
        channel.past_end_active ? pixel_count : std::min(pixel_count, channel.stored);

    InterruptPoll<> poll;
    uint64_t x = 0, y = 0;
    for (uint64_t i = 0; i < end; ++i) {
        poll.tick();
        if (channel.active(i, threshold)) {
            bool edge =
                x == 0 || !channel.active(i - 1, threshold) ||
                !(x + 1 < width && i + 1 < pixel_count && channel.active(i + 1, threshold)) ||
                !(y > 0 && channel.active(i - width, threshold)) ||
                !(y + 1 < height && width < pixel_count - i &&
                  channel.active(i + width, threshold));
            if (edge) edges.push_back({static_cast<float>(x), static_cast<float>(y)});
        }
        if (++x == width) {
            x = 0;
            ++y;
        }
    }
    return edges;
}

}  // namespace core
