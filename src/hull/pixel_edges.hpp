// Outline pixels of one thresholded channel: of a flat per-pixel float list
// (pixel_edge_points), and of an image in memory (OutlineBits).
#pragma once

#include <cstddef>
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

// One channel of an image held in memory: pixel (x, y) is the element at
// base + y * row_step + x * col_step bytes, compared as float32. Elements of
// another kind are read by `read(p, context)`.
struct ImageChannel {
    enum class Format : std::uint8_t { kFloat32, kFloat64, kUint8, kOther };
    const unsigned char* base = nullptr;
    std::int64_t row_step = 0;
    std::int64_t col_step = 0;
    std::size_t height = 0;
    std::size_t width = 0;
    Format format = Format::kFloat32;
    float (*read)(const unsigned char* p, const void* context) noexcept = nullptr;
    const void* context = nullptr;
};

// A complete image thresholded into one bit a pixel, 64 to a word, each row
// padded to whole words with inactive pixels. The outline is found a word
// at a time from the word and its four neighbours, so every step below works
// on any range of words: a caller splits the image however it likes, and
// never has to take a whole row (a row may hold millions of pixels).
//
// Use: threshold() over every word, then count() over ranges of words, then
// emit() over the same ranges at offsets given by the counts.
class OutlineBits {
public:
    // Throws std::bad_alloc.
    OutlineBits(std::size_t height, std::size_t width);

    std::size_t words() const noexcept { return bits_.size(); }

    // Fills words [begin, end) from the image: a bit is set when the pixel
    // is above `threshold` (NaN never is).
    void threshold(const ImageChannel& image, float threshold, std::size_t begin,
                   std::size_t end) noexcept;
    // The number of outline pixels in words [begin, end).
    std::size_t count(std::size_t begin, std::size_t end) const noexcept;
    // Writes the outline pixels of words [begin, end) as (x, y) in row-major
    // order from `out` on; returns the end of what it wrote.
    Point* emit(std::size_t begin, std::size_t end, Point* out) const noexcept;

private:
    std::uint64_t outline(std::size_t word) const noexcept;

    std::size_t height_, width_, row_words_;
    std::vector<std::uint64_t> bits_;
};

}  // namespace core
