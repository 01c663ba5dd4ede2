#include "physics/broad_phase.hpp"

#include <algorithm>
#include <cassert>
#include <bit>
#include <cmath>
#include <cstring>

#include "common/interrupt.hpp"
#include "common/seed.hpp"

namespace core {
namespace {

// Odd multipliers drawn once per process, so that chosen coordinates cannot
// pile their cells into one bucket.
struct CellHash {
    uint64_t kx, ky, kz;
};

CellHash process_cell_hash() noexcept {
    uint64_t state = process_seed();
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
    if (std::fabs(v) < kFloorLimit) {
        const auto toward_zero = static_cast<int64_t>(v);  // exact: v is below 2^62
        return toward_zero - (v < static_cast<float>(toward_zero));
    }
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int64_t key = (int64_t{1} << 62) + 4 * int64_t{bits & 0x7fffffffU};
    return v < 0.0f ? -key : key;
}

}  // namespace

// Where the occupied cells fill their bounding box well enough, buckets are
// the cells of that box, x fastest: a row of cells is then a run of
// consecutive buckets and queries in bucket order sweep memory. Elsewhere
// cells are hashed by blocks of 4 x 4 x 4 laid out densely inside, so most
// neighbours still share a block.
constexpr int kBlockShift = 2;
// Passes that do a few operations per body or per pair poll this often.
constexpr std::uint64_t kLinearPollPeriod = 1 << 16;
constexpr int64_t kBlockMask = (int64_t{1} << kBlockShift) - 1;

// In the dense layout only cells inside the box are asked for.
inline uint32_t BroadPhase::bucket_of(int64_t cx, int64_t cy, int64_t cz) const noexcept {
    if (dense_) {
        const auto x = static_cast<uint64_t>(cx - origin_[0]);
        const auto y = static_cast<uint64_t>(cy - origin_[1]);
        const auto z = static_cast<uint64_t>(cz - origin_[2]);
        return static_cast<uint32_t>(x + extent_[0] * (y + extent_[1] * z));
    }
    const uint64_t h = static_cast<uint64_t>(cx >> kBlockShift) * kCellHash.kx +
                       static_cast<uint64_t>(cy >> kBlockShift) * kCellHash.ky +
                       static_cast<uint64_t>(cz >> kBlockShift) * kCellHash.kz;
    const auto block = static_cast<uint32_t>(h >> (64 - block_bits_));
    const auto local = static_cast<uint32_t>((cx & kBlockMask) | (cy & kBlockMask) << kBlockShift |
                                             (cz & kBlockMask) << (2 * kBlockShift));
    return block << (3 * kBlockShift) | local;
}

BroadPhase::Cells BroadPhase::cells_of(const Box& b) noexcept {
    return {{cell_key(b.lo[0]), cell_key(b.lo[1]), cell_key(b.lo[2])},
            {cell_key(b.hi[0]), cell_key(b.hi[1]), cell_key(b.hi[2])}};
}

std::size_t BroadPhase::choose_layout(const int64_t lo[3], const int64_t hi[3], std::size_t m) {
    // At most about eight cells per body, so the bucket array stays O(n).
    const uint64_t limit = 8 * uint64_t{m} + 4096;
    uint64_t volume = 1;
    dense_ = true;
    for (int k = 0; k < 3; ++k) {
        const uint64_t extent = static_cast<uint64_t>(hi[k]) - static_cast<uint64_t>(lo[k]) + 1;
        if (extent == 0 || extent > limit / volume) {
            dense_ = false;
            break;
        }
        volume *= extent;
        origin_[k] = lo[k];
        extent_[k] = extent;
    }
    if (dense_) return volume;
    // About one block of 64 buckets per 8 bodies.
    block_bits_ = std::max(1, static_cast<int>(std::bit_width(m >> 3)));
    return std::size_t{1} << (block_bits_ + 3 * kBlockShift);
}

// The four steps share the buffers of the class; each polls for an
// interrupt, so Ctrl-C stops the search in any of them. The caller keeps the
// world as it was until the pairs are complete.
void BroadPhase::find_pairs(std::span<const RigidBody> bodies, std::vector<HandlePair>& out) {
    const Extent extent = place(bodies);
    if (boxes_.size() < 2) return;
    group(extent);
    query(extent);
    restore_order(bodies, out);
}

// Places every body whose box has no NaN bound (such a box overlaps
// nothing). `reach` is how many cells the widest box spans beyond its own on
// each axis: x +- 0.5 rounds, so a box can cover up to three cells (two odd
// neighbours near 2^23 touch although 2.0 apart).
BroadPhase::Extent BroadPhase::place(std::span<const RigidBody> bodies) {
    boxes_.clear();
    Extent e{{0, 0, 0}, {INT64_MAX, INT64_MAX, INT64_MAX}, {INT64_MIN, INT64_MIN, INT64_MIN}};
    InterruptPoll<kLinearPollPeriod> poll;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        poll.tick();
        const Float3& p = bodies[i].position;
        if (std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2])) continue;
        Box box;
        for (int k = 0; k < 3; ++k) {
            box.lo[k] = p[k] - 0.5f;
            box.hi[k] = p[k] + 0.5f;
        }
        box.index = static_cast<uint32_t>(i);
        const Cells c = cells_of(box);
        for (int k = 0; k < 3; ++k) {
            e.reach[k] = std::max(e.reach[k], c.last[k] - c.first[k]);
            e.lowest[k] = std::min(e.lowest[k], c.first[k]);
            e.highest[k] = std::max(e.highest[k], c.first[k]);
        }
        boxes_.push_back(box);
    }
    return e;
}

// Groups the boxes by the bucket of their lower cell with a stable counting
// sort, so array order holds within a bucket.
void BroadPhase::group(const Extent& e) {
    const std::size_t m = boxes_.size();
    const std::size_t buckets = choose_layout(e.lowest, e.highest, m);
    starts_.assign(buckets + 2, 0);
    bucket_.resize(m);
    InterruptPoll<kLinearPollPeriod> poll;
    for (std::size_t i = 0; i < m; ++i) {
        poll.tick();
        const Cells c = cells_of(boxes_[i]);
        bucket_[i] = bucket_of(c.first[0], c.first[1], c.first[2]);
        assert(bucket_[i] < buckets);
        ++starts_[bucket_[i] + 2];
    }
    for (std::size_t b = 2; b < buckets + 2; ++b) starts_[b] += starts_[b - 1];
    grouped_.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
        poll.tick();
        grouped_[starts_[bucket_[i] + 1]++] = boxes_[i];
    }
    // Now bucket b is grouped_[starts_[b] .. starts_[b + 1]).
    assert(starts_[buckets] == m);
}

// Boxes that overlap are at most `reach` cells apart on every axis (the
// lower cell of each is within the other's [first - reach, last]). So each
// query looks at its own bucket past itself and at the cells after its own
// in (z, y, x) order up to its upper bound; every overlapping pair is met at
// least once. Hashed buckets also hold other cells, and two cells of one
// query can share a bucket, so a pair can be met twice; the exact test
// decides every meeting and restore_order drops the duplicates.
void BroadPhase::query(const Extent& e) {
    hit_count_ = 0;
    if (dense_) {
        query_dense(e.reach);
    } else {
        query_hashed(e.reach);
    }
}

// Back to the order of the all-pairs loop: by i (a counting sort), then by j
// within each i, each pair once.
void BroadPhase::restore_order(std::span<const RigidBody> bodies, std::vector<HandlePair>& out) {
    const std::size_t n = bodies.size();
    first_hit_.assign(n + 2, 0);
    hits_.resize(hit_count_);
    InterruptPoll<kLinearPollPeriod> poll;
    for (const auto& [i, j] : hits_) {
        poll.tick();
        assert(i < j && j < n);
        ++first_hit_[i + 2];
    }
    for (std::size_t i = 2; i < n + 2; ++i) first_hit_[i] += first_hit_[i - 1];
    partners_.resize(hits_.size());
    for (const auto& [i, j] : hits_) {
        poll.tick();
        partners_[first_hit_[i + 1]++] = j;
    }
    out.reserve(out.size() + hits_.size());
    // A body met by thousands of others sorts thousands of partners, so the
    // poll counts the partners each body brings.
    for (std::size_t i = 0; i < n; ++i) {
        const auto begin = partners_.begin() + first_hit_[i];
        const auto end = partners_.begin() + first_hit_[i + 1];
        poll.tick(static_cast<std::uint64_t>(end - begin) + 1);
        std::sort(begin, end);
        for (auto it = begin; it != end; ++it) {
            if (it != begin && *it == it[-1]) continue;
            out.emplace_back(bodies[i].handle, bodies[*it].handle);
        }
    }
}

// In the dense layout the cells of one row (fixed y and z) are consecutive
// buckets, so each row of a query's half-neighbourhood is one scan.
void BroadPhase::query_dense(const int64_t reach[3]) {
    const auto nx = static_cast<int64_t>(extent_[0]);
    const auto ny = static_cast<int64_t>(extent_[1]);
    const auto nz = static_cast<int64_t>(extent_[2]);
    // Bodies piled into few cells make a query long, so poll often.
    InterruptPoll<16> poll;
    for (std::size_t q = 0; q < grouped_.size(); ++q) {
        poll.tick();
        const Box& a = grouped_[q];
        const Cells c = cells_of(a);
        const int64_t x = c.first[0] - origin_[0];
        const int64_t y = c.first[1] - origin_[1];
        const int64_t z = c.first[2] - origin_[2];
        const int64_t x_to = std::min(nx - 1, c.last[0] - origin_[0]);
        const int64_t x_from = std::max(int64_t{0}, x - reach[0]);
        // Its own row: the rest of its cell, then the cells up to x_to.
        scan(a, static_cast<uint32_t>(q + 1), starts_[nx * (y + ny * z) + x_to + 1]);
        const int64_t y_to = std::min(ny - 1, c.last[1] - origin_[1]);
        const int64_t z_to = std::min(nz - 1, c.last[2] - origin_[2]);
        for (int64_t zz = z; zz <= z_to; ++zz) {
            const int64_t y_from = zz > z ? std::max(int64_t{0}, y - reach[1]) : y + 1;
            for (int64_t yy = y_from; yy <= y_to; ++yy) {
                const int64_t row = nx * (yy + ny * zz);
                scan(a, starts_[row + x_from], starts_[row + x_to + 1]);
            }
        }
    }
}

void BroadPhase::query_hashed(const int64_t reach[3]) {
    InterruptPoll<16> poll;
    for (std::size_t q = 0; q < grouped_.size(); ++q) {
        poll.tick();
        const Box& a = grouped_[q];
        const Cells c = cells_of(a);
        const uint32_t own = bucket_of(c.first[0], c.first[1], c.first[2]);
        scan(a, static_cast<uint32_t>(q + 1), starts_[own + 1]);
        const int64_t span[3] = {c.last[0] - c.first[0], c.last[1] - c.first[1],
                                 c.last[2] - c.first[2]};
        for (int64_t dz = 0; dz <= span[2]; ++dz) {
            for (int64_t dy = dz > 0 ? -reach[1] : 0; dy <= span[1]; ++dy) {
                for (int64_t dx = dz > 0 || dy > 0 ? -reach[0] : 1; dx <= span[0]; ++dx) {
                    const uint32_t b = bucket_of(c.first[0] + dx, c.first[1] + dy, c.first[2] + dz);
                    scan(a, starts_[b], starts_[b + 1]);
                }
            }
        }
    }
}

inline void BroadPhase::scan(const Box& a, uint32_t begin, uint32_t end) {
    assert(begin <= end && end <= grouped_.size());
    // Every box is written and only a hit advances the count: whether a
    // box overlaps is unpredictable, and a branch on it costs more.
    if (hits_.size() < hit_count_ + (end - begin)) {
        hits_.resize(std::max(2 * hits_.size(), hit_count_ + (end - begin)));
    }
    auto* hit = hits_.data() + hit_count_;
    for (uint32_t g = begin; g < end; ++g) {
        const Box& b = grouped_[g];
        const bool overlap = (a.lo[0] <= b.hi[0]) & (b.lo[0] <= a.hi[0]) & (a.lo[1] <= b.hi[1]) &
                             (b.lo[1] <= a.hi[1]) & (a.lo[2] <= b.hi[2]) & (b.lo[2] <= a.hi[2]);
        *hit = {std::min(a.index, b.index), std::max(a.index, b.index)};
        hit += overlap;
    }
    hit_count_ = static_cast<std::size_t>(hit - hits_.data());
}

}  // namespace core
