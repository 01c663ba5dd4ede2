#include "physics/broad_phase.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>

namespace core {
namespace {

uint64_t splitmix64(uint64_t& state) noexcept {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Odd multipliers drawn once per process, so that chosen coordinates cannot
// pile their cells into one bucket.
struct CellHash {
    uint64_t kx, ky, kz;
};

CellHash process_cell_hash() noexcept {
    uint64_t state = static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device device;
        state ^= (uint64_t{device()} << 32) | device();
    } catch (...) {
        // No entropy source: the clock alone still varies between runs.
    }
    return {splitmix64(state) | 1, splitmix64(state) | 1, splitmix64(state) | 1};
}

const CellHash kCellHash = process_cell_hash();

// The cell of a box bound on one axis: a non-decreasing function of the
// bound, so two boxes that overlap have intersecting cell ranges
// [key(lo), key(hi)]. Below 2^62 it is the floor; beyond, a box is a single
// point on the axis (x +- 0.5 rounds back to x) and overlaps only an equal
// value, so keys there follow the float's bit pattern spaced 4 apart, out of
// reach of any query and still in order. Infinities land there too.
int64_t cell_key(float v) noexcept {
    constexpr float kFloorLimit = 0x1p62f;
    if (std::fabs(v) < kFloorLimit) return static_cast<int64_t>(std::floor(v));
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int64_t key = (int64_t{1} << 62) + 4 * int64_t{bits & 0x7fffffffU};
    return v < 0.0f ? -key : key;
}

}  // namespace

uint32_t BroadPhase::bucket_of(int64_t cx, int64_t cy, int64_t cz) const noexcept {
    const uint64_t h = static_cast<uint64_t>(cx) * kCellHash.kx +
                       static_cast<uint64_t>(cy) * kCellHash.ky +
                       static_cast<uint64_t>(cz) * kCellHash.kz;
    return static_cast<uint32_t>(h >> (64 - bucket_bits_));
}

void BroadPhase::find_pairs(std::span<const RigidBody> bodies, std::vector<HandlePair>& out) {
    // Place every body whose box has no NaN bound (such a box overlaps
    // nothing). `reach` is how many cells the widest box spans beyond its
    // own on each axis: x +- 0.5 rounds, so a box can cover up to three
    // cells (two odd neighbours near 2^23 touch although 2.0 apart).
    entries_.clear();
    int64_t reach[3] = {0, 0, 0};
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        Entry e;
        bool placed = true;
        for (int k = 0; k < 3; ++k) {
            const float p = bodies[i].position[k];
            e.lo[k] = p - 0.5f;
            e.hi[k] = p + 0.5f;
            if (std::isnan(p)) {
                placed = false;
                break;
            }
            e.cell[k] = cell_key(e.lo[k]);
            reach[k] = std::max(reach[k], cell_key(e.hi[k]) - e.cell[k]);
        }
        if (!placed) continue;
        e.index = static_cast<uint32_t>(i);
        entries_.push_back(e);
    }
    const std::size_t m = entries_.size();
    if (m < 2) return;

    // Group by bucket with a stable counting sort, about two buckets per body.
    bucket_bits_ = std::max(4, static_cast<int>(std::bit_width(m)));
    const std::size_t buckets = std::size_t{1} << bucket_bits_;
    starts_.assign(buckets + 2, 0);
    for (Entry& e : entries_) {
        e.bucket = bucket_of(e.cell[0], e.cell[1], e.cell[2]);
        ++starts_[e.bucket + 2];
    }
    for (std::size_t b = 2; b < buckets + 2; ++b) starts_[b] += starts_[b - 1];
    grouped_.resize(m);
    for (const Entry& e : entries_) grouped_[starts_[e.bucket + 1]++] = e;
    // Now bucket b is grouped_[starts_[b] .. starts_[b + 1]).

    // A box b overlapping box a has its cell within [cell(a) - reach,
    // key(hi of a)] on every axis. The cell check keeps a body from being
    // met twice when two of the cells share a bucket.
    for (const Entry& a : entries_) {
        partners_.clear();
        const int64_t end_x = cell_key(a.hi[0]);
        const int64_t end_y = cell_key(a.hi[1]);
        const int64_t end_z = cell_key(a.hi[2]);
        for (int64_t cx = a.cell[0] - reach[0]; cx <= end_x; ++cx) {
            for (int64_t cy = a.cell[1] - reach[1]; cy <= end_y; ++cy) {
                for (int64_t cz = a.cell[2] - reach[2]; cz <= end_z; ++cz) {
                    const uint32_t bucket = bucket_of(cx, cy, cz);
                    for (uint32_t g = starts_[bucket]; g < starts_[bucket + 1]; ++g) {
                        const Entry& b = grouped_[g];
                        if (b.index <= a.index || b.cell[0] != cx || b.cell[1] != cy ||
                            b.cell[2] != cz) {
                            continue;
                        }
                        if (a.lo[0] <= b.hi[0] && b.lo[0] <= a.hi[0] && a.lo[1] <= b.hi[1] &&
                            b.lo[1] <= a.hi[1] && a.lo[2] <= b.hi[2] && b.lo[2] <= a.hi[2]) {
                            partners_.push_back(b.index);
                        }
                    }
                }
            }
        }
        std::sort(partners_.begin(), partners_.end());
        const uint32_t handle = bodies[a.index].handle;
        for (uint32_t j : partners_) out.emplace_back(handle, bodies[j].handle);
    }
}

}  // namespace core
