// Which unit boxes overlap, found through a grid of unit cells (stored as a
// dense array where the cells fill their bounding box well, hashed by blocks
// elsewhere) but decided by the exact float32 test, so the pairs and their
// order are those of the plain all-pairs loop over i < j.
#pragma once

#include <cstdint>
#include <span>
#include <tuple>
#include <vector>

#include "physics/body.hpp"

namespace core {

using HandlePair = std::tuple<uint32_t, uint32_t>;

// The box [p - 0.5, p + 0.5] on each axis, rounded to float32. Boxes that
// only touch overlap; a NaN bound overlaps nothing.
inline bool boxes_overlap(const RigidBody& a, const RigidBody& b) noexcept {
    for (int k = 0; k < 3; ++k) {
        const float pa = a.position[k];
        const float pb = b.position[k];
        if (!(pa - 0.5f <= pb + 0.5f && pb - 0.5f <= pa + 0.5f)) return false;
    }
    return true;
}

// Keeps its buffers between calls: a world stepped every frame stops
// allocating once it has seen its largest frame.
class BroadPhase {
public:
    // Appends (handle i, handle j) for every overlapping i < j, ordered by i
    // then j (array order). Throws Interrupted when polled to stop.
    void find_pairs(std::span<const RigidBody> bodies, std::vector<HandlePair>& out);

private:
    // Per axis, over the placed boxes: the most cells a box spans beyond its
    // own, and the range of their lower cells.
    struct Extent {
        int64_t reach[3];
        int64_t lowest[3];
        int64_t highest[3];
    };
    struct Box {
        float lo[3];
        float hi[3];
        uint32_t index;
    };
    struct Cells {
        int64_t first[3];  // cell of the lower bound
        int64_t last[3];   // cell of the upper bound
    };

    // The four steps of find_pairs.
    Extent place(std::span<const RigidBody> bodies);
    void group(const Extent& e);
    void query(const Extent& e);
    void restore_order(std::span<const RigidBody> bodies, std::vector<HandlePair>& out);

    static Cells cells_of(const Box& b) noexcept;
    uint32_t bucket_of(int64_t cx, int64_t cy, int64_t cz) const noexcept;
    // Picks the bucket layout for cells whose lower cells span [lo, hi];
    // returns the number of buckets.
    std::size_t choose_layout(const int64_t lo[3], const int64_t hi[3], std::size_t m);
    void query_dense(const int64_t reach[3]);
    void query_hashed(const int64_t reach[3]);
    // Records (i, j), i < j, for every box of grouped_[begin .. end) that
    // overlaps `a`.
    void scan(const Box& a, uint32_t begin, uint32_t end);

    std::vector<Box> boxes_;        // placed bodies, in array order
    std::vector<uint32_t> bucket_;  // their buckets, likewise
    std::vector<Box> grouped_;      // the boxes grouped by bucket, array order within
    std::vector<uint32_t> starts_;  // bucket b is grouped_[starts_[b] .. starts_[b + 1])
    std::vector<std::tuple<uint32_t, uint32_t>> hits_;  // (i, j), i < j, in query order
    std::size_t hit_count_ = 0;                         // hits_ is scratch beyond this
    std::vector<uint32_t> first_hit_;  // hits of body i: partners_[first_hit_[i] ..]
    std::vector<uint32_t> partners_;
    bool dense_ = false;
    int64_t origin_[3] = {0, 0, 0};   // dense layout: the lowest cell
    uint64_t extent_[3] = {1, 1, 1};  // and the box size in cells
    int block_bits_ = 1;              // hashed layout: log2 of the block count
};

}  // namespace core
