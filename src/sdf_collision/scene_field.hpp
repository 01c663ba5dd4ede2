// The signed distance field of a scene buffer, decoded once for evaluation:
// per primitive kind, one column per constant its formula needs, and each
// record's position in the buffer (at most 44 bytes per 48-byte record). A
// query runs one straight loop per kind, four records at a time (one at a
// time for a kind with fewer), allocates nothing and gives the bits of
// walking the records in buffer order and keeping the first strictly smaller
// distance.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

namespace core {

// Distance of an empty scene and of a record with an unknown type code.
constexpr float kEmptyDistance = std::numeric_limits<float>::max();

class SceneField {
public:
    // Decodes every complete record; unknown type codes are dropped, as they
    // never change the union.
    explicit SceneField(std::span<const uint8_t> buffer);
    SceneField() = default;

    // The union (minimum) over all records; NaN distances never win, so the
    // result is never NaN.
    float distance(float px, float py, float pz) const noexcept;

    // Outward normal by central differences; (0, 1, 0) where the gradient
    // vanishes or its length is not a number. Near the float limit the length
    // can overflow to infinity instead: each component is then its difference
    // divided by infinity, 0 for a finite one and NaN for an infinite one, and
    // that is what is returned.
    std::array<float, 3> normal(float px, float py, float pz) const noexcept;

    // distance() and normal() at n points (x[i], y[i], z[i]), with the same
    // bits as n calls: the points fill the lanes (as wide as the CPU has) and
    // each record's constants are spread over them, so every record fills the
    // lanes however few of its kind there are. Normals are written as n rows
    // of three.
    // `out` must not overlap the coordinates. Many points in a large scene
    // go through distances_by_cells.
    void distances(const float* x, const float* y, const float* z, std::size_t n,
                   float* out) const noexcept;
    // distances() by cells: the points are sorted into the cells of a grid,
    // and in each cell only the records that can be nearest somewhere in it
    // are evaluated (those whose distance at the cell's centre, less what it
    // can change across the cell, is below the least such upper bound).
    // The same bits as distances(), for any points.
    void distances_by_cells(const float* x, const float* y, const float* z, std::size_t n,
                            float* out) const noexcept;
    // How many points a call of distances() should bring at most for the
    // cells to pay, or 0 where the scene is too small for them to.
    std::size_t cell_block() const noexcept;
    void normals(const float* x, const float* y, const float* z, std::size_t n,
                 float* out) const noexcept;

    // The one list of primitive kinds: kinds.hpp gives each its type codes and
    // formula, and everything else derives from this enumeration.
    enum Kind : uint8_t { kSpheres, kBoxes, kCylinders, kCapsules, kCones, kTori, kPlanes, kKinds };

    // The records of one kind: `count` floats per column, positions ascending.
    struct Group {
        Kind kind = kKinds;
        uint32_t count = 0;
        uint32_t first = 0;       // index of its first record in positions_
        std::size_t column0 = 0;  // offset of its first column in columns_
    };

    // What bounds how far a record's formula, as computed, can move across a
    // cell: `lipschitz` bounds the exact formula's change per unit of
    // distance and `size` is the sum of its columns' magnitudes, both
    // rounded up. `lipschitz` is +inf where a column is not a finite number
    // within 2^40: the record is then evaluated in every cell.
    struct Reach {
        float lipschitz, size;
    };

    // The decoded form as plain data, so that a copy made in another process
    // answers with the same bits without the buffer, which is not kept.
    std::span<const Group> groups() const noexcept { return {groups_.data(), group_count_}; }
    std::span<const float> columns() const noexcept { return columns_; }
    std::span<const uint32_t> positions() const noexcept { return positions_; }
    static std::size_t column_count(Kind kind) noexcept;
    // The field of `count[k]` records of each kind k with those positions and
    // columns, laid out as groups() describes them. Throws
    // std::invalid_argument when the lengths do not match the counts.
    SceneField(const std::array<uint32_t, kKinds>& count, std::vector<uint32_t> positions,
               std::vector<float> columns);

private:
    // Sets the groups and flags for `count[k]` records of each kind k; gives
    // the number of records and of column floats.
    std::pair<std::size_t, std::size_t> lay_out(const std::array<uint32_t, kKinds>& count);
    float first_zero(float px, float py, float pz) const noexcept;
    void reach_records();
    void nearest_by_cells(const float* x, const float* y, const float* z, std::size_t n,
                          float* out) const;
    void settle_zeros(const float* x, const float* y, const float* z, std::size_t n,
                      float* out) const noexcept;
    template <class Sink>
    void walk(float px, float py, float pz, Sink& sink) const noexcept;

    std::array<Group, kKinds> groups_{};  // the kinds present, in kind order
    std::size_t group_count_ = 0;
    bool few_ = true;  // no group fills a block of lanes
    // Two records or more, one of a kind that can give -0: only then can +0
    // and -0 tie at a point, and a zero minimum needs the buffer order.
    bool signed_zeros_ = false;
    std::vector<float> columns_;
    std::vector<uint32_t> positions_;  // record index in the buffer
    std::vector<Reach> reach_;         // per record, derived from the columns
};

}  // namespace core
