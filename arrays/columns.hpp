// Points gathered a chunk at a time into coordinate columns for the field.
#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "common/rows3.hpp"
#include "inputs.hpp"

namespace core::arrays {

constexpr std::size_t kChunk = 256;

// Rows [first, first + m) of `p` into the columns x, y, z.
template <class Load>
void gather(const Load& p, std::size_t first, std::size_t m, float* x, float* y,
            float* z) noexcept {
    if constexpr (std::is_same_v<Load, PackedF32>) {
        if (p.cols == 3) return rows3::split_rows(p.p + 3 * first, m, x, y, z);
    }
    for (std::size_t j = 0; j < m; ++j) {
        x[j] = p(first + j, 0);
        y[j] = p(first + j, 1);
        z[j] = p(first + j, 2);
    }
}

struct Columns {
    float x[kChunk], y[kChunk], z[kChunk];
    template <class Load>
    void gather(const Load& p, std::size_t first, std::size_t m) noexcept {
        arrays::gather(p, first, m, x, y, z);
    }
};

// body(first, m, columns) for the points [begin, end) a chunk at a time.
template <class Load, class Body>
void by_chunks(const Load& p, std::size_t begin, std::size_t end, const Body& body) noexcept {
    Columns c;
    for (std::size_t i = begin; i < end; i += kChunk) {
        const std::size_t m = std::min(kChunk, end - i);
        c.gather(p, i, m);
        body(i, m, c);
    }
}

}  // namespace core::arrays
