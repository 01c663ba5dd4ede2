#include "hull/pixel_edges.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__) && !defined(CORE_PLAIN_LANES)
#include <emmintrin.h>
#endif

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

// ---- An image in memory, a bit a pixel ----

namespace {

constexpr std::size_t kWordBits = 64;

template <class T>
std::uint64_t threshold_strided(const unsigned char* p, std::int64_t step, std::size_t n,
                                float threshold) noexcept {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, p + static_cast<std::int64_t>(i) * step, sizeof v);
        bits |= static_cast<std::uint64_t>(static_cast<float>(v) > threshold) << i;
    }
    return bits;
}

// 64 contiguous float32 values; the compare is the scalar one (false for NaN).
std::uint64_t threshold_64(const unsigned char* p, float threshold) noexcept {
#if defined(__SSE2__) && !defined(CORE_PLAIN_LANES)
    const __m128 t = _mm_set1_ps(threshold);
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        const __m128 v = _mm_loadu_ps(reinterpret_cast<const float*>(p + 16 * i));
        bits |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_cmpgt_ps(v, t))) << (4 * i);
    }
    return bits;
#else
    return threshold_strided<float>(p, sizeof(float), kWordBits, threshold);
#endif
}

}  // namespace

OutlineBits::OutlineBits(std::size_t height, std::size_t width)
    : height_(height),
      width_(width),
      row_words_((width + kWordBits - 1) / kWordBits),
      bits_(height * row_words_) {}

void OutlineBits::threshold(const ImageChannel& image, float threshold, std::size_t begin,
                            std::size_t end) noexcept {
    for (std::size_t w = begin; w < end; ++w) {
        const std::size_t y = w / row_words_;
        const std::size_t x0 = (w % row_words_) * kWordBits;
        const std::size_t n = std::min(kWordBits, width_ - x0);
        const unsigned char* p = image.base + static_cast<std::int64_t>(y) * image.row_step +
                                 static_cast<std::int64_t>(x0) * image.col_step;
        switch (image.format) {
            case ImageChannel::Format::kFloat32:
                bits_[w] = n == kWordBits && image.col_step == sizeof(float)
                               ? threshold_64(p, threshold)
                               : threshold_strided<float>(p, image.col_step, n, threshold);
                break;
            case ImageChannel::Format::kFloat64:
                bits_[w] = threshold_strided<double>(p, image.col_step, n, threshold);
                break;
            case ImageChannel::Format::kUint8:
                bits_[w] = threshold_strided<std::uint8_t>(p, image.col_step, n, threshold);
                break;
            case ImageChannel::Format::kOther: {
                std::uint64_t bits = 0;
                for (std::size_t i = 0; i < n; ++i) {
                    const float v = image.read(p + static_cast<std::int64_t>(i) * image.col_step,
                                               image.context);
                    bits |= static_cast<std::uint64_t>(v > threshold) << i;
                }
                bits_[w] = bits;
                break;
            }
        }
    }
}

// Active pixels of the word that lack an active 4-neighbour; missing
// neighbours (past the border, or the padding of a row) are inactive bits.
std::uint64_t OutlineBits::outline(std::size_t w) const noexcept {
    const std::size_t y = w / row_words_;
    const std::size_t c = w % row_words_;
    const std::uint64_t here = bits_[w];
    if (here == 0) return 0;
    const std::uint64_t before = c > 0 ? bits_[w - 1] : 0;
    const std::uint64_t after = c + 1 < row_words_ ? bits_[w + 1] : 0;
    const std::uint64_t left = (here << 1) | (before >> 63);
    const std::uint64_t right = (here >> 1) | (after << 63);
    const std::uint64_t up = y > 0 ? bits_[w - row_words_] : 0;
    const std::uint64_t down = y + 1 < height_ ? bits_[w + row_words_] : 0;
    return here & ~(left & right & up & down);
}

std::size_t OutlineBits::count(std::size_t begin, std::size_t end) const noexcept {
    std::size_t n = 0;
    for (std::size_t w = begin; w < end; ++w)
        n += static_cast<std::size_t>(std::popcount(outline(w)));
    return n;
}

Point* OutlineBits::emit(std::size_t begin, std::size_t end, Point* out) const noexcept {
    for (std::size_t w = begin; w < end; ++w) {
        std::uint64_t m = outline(w);
        if (m == 0) continue;
        const float y = static_cast<float>(w / row_words_);
        const std::size_t x0 = (w % row_words_) * kWordBits;
        do {
            *out++ = {static_cast<float>(x0 + static_cast<std::size_t>(std::countr_zero(m))), y};
            m &= m - 1;
        } while (m != 0);
    }
    return out;
}

}  // namespace core
