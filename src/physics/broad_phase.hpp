// Which unit boxes overlap, found through a hashed grid of unit cells but
// decided by the exact float32 test, so the pairs and their order are those
// of the plain all-pairs loop over i < j.
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
    // then j (array order).
    void find_pairs(std::span<const RigidBody> bodies, std::vector<HandlePair>& out);

private:
    struct Entry {
        float lo[3];
        float hi[3];
        int64_t cell[3];
        uint32_t index;
        uint32_t bucket;
    };

    uint32_t bucket_of(int64_t cx, int64_t cy, int64_t cz) const noexcept;

    std::vector<Entry> entries_;   // placed bodies, in array order
    std::vector<Entry> grouped_;   // the same, grouped by bucket, array order within
    std::vector<uint32_t> starts_; // bucket b holds grouped_[starts_[b] .. starts_[b + 1])
    std::vector<uint32_t> partners_;
    int bucket_bits_ = 4;
};

}  // namespace core
