// The points of a query sorted into the cells of a grid laid over them, so
// that the points of a cell lie close together and the records that can be
// nearest anywhere in a cell are few (see SceneField::distances_by_cells).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace core {

// A double as the least float no smaller.
float float_above(double v) noexcept;

class PointCells {
public:
    // A cell: its points [begin, end) in sorted order, and a centre with a
    // radius (rounded up) that reaches every one of them; `norm` is the
    // centre's distance from the origin, rounded up.
    struct Cell {
        uint32_t begin, end;
        float x, y, z, radius, norm;
    };

    // Sorts the points that are finite and within 2^40 of the origin on
    // every axis into cells of about `per_cell` points; the rest are stray.
    // The storage is kept for the next call. Throws std::bad_alloc.
    void sort(const float* x, const float* y, const float* z, std::size_t n, std::size_t per_cell);

    // The sorted points as columns, each one's index in the query, and the
    // cells; the stray points follow the last cell's.
    const float* x() const noexcept { return x_.data(); }
    const float* y() const noexcept { return y_.data(); }
    const float* z() const noexcept { return z_.data(); }
    std::span<const uint32_t> order() const noexcept { return order_; }
    std::span<const Cell> cells() const noexcept { return cells_; }
    std::size_t placed() const noexcept { return placed_; }

private:
    struct Point {
        float x, y, z;
        uint32_t index;
    };
    std::vector<Point> sorted_;
    std::vector<float> x_, y_, z_;
    std::vector<uint32_t> order_, cell_, start_;
    std::vector<Cell> cells_;
    std::size_t placed_ = 0;
};

}  // namespace core
