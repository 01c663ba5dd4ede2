#include "physics/ray_index.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "common/interrupt.hpp"

namespace core {
namespace {

constexpr uint32_t kLeafSize = 4;
// 30 levels of Z-curve cells, then halving at most 2^32 equal codes: this
// bounds the traversal stack.
constexpr int kMaxDepth = 64;

bool finite(const Float3& v) noexcept {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// Keeps the nearer hit; on equal distances, the body earlier in the array.
void offer(NearestHit& best, uint32_t index, float t) noexcept {
    if (!best.hit || t < best.t || (t == best.t && index < best.index)) best = {true, index, t};
}

// Spreads the low 10 bits of v to every third bit.
uint64_t spread(uint64_t v) noexcept {
    v &= 0x3ff;
    v = (v | (v << 16)) & 0x30000ff;
    v = (v | (v << 8)) & 0x300f00f;
    v = (v | (v << 4)) & 0x30c30c3;
    v = (v | (v << 2)) & 0x9249249;
    return v;
}

// Sorts (code << 32 | index) keys by their 30-bit code, equal codes in
// index order (the order they come in): three stable passes of 10 bits.
template <class Poll>
void sort_codes(std::vector<uint64_t>& keys, Poll& poll) {
    std::vector<uint64_t> other(keys.size());
    for (int shift = 32; shift < 62; shift += 10) {
        std::size_t start[1025] = {};
        for (const uint64_t k : keys) ++start[((k >> shift) & 0x3ff) + 1];
        for (int b = 0; b < 1024; ++b) start[b + 1] += start[b];
        for (const uint64_t k : keys) {
            poll.tick();
            other[start[(k >> shift) & 0x3ff]++] = k;
        }
        keys.swap(other);
    }
}

}  // namespace

RayIndex::RayIndex(std::span<const RigidBody> bodies) : bodies_(bodies) {
    InterruptPoll<(1u << 16)> poll;
    // Finite bodies in the order of a Z-curve through their bounds (with the
    // array index as the low half of the key), so that halving the sorted
    // list groups neighbours; the grouping only decides what gets skipped,
    // never which hit is reported.
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    uint32_t finite_count = 0;
    for (uint32_t i = 0; i < bodies.size(); ++i) {
        poll.tick();
        const Float3& p = bodies[i].position;
        if (!finite(p)) continue;
        ++finite_count;
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], static_cast<double>(p[k]));
            hi[k] = std::max(hi[k], static_cast<double>(p[k]));
        }
    }
    double scale[3];
    for (int k = 0; k < 3; ++k) scale[k] = hi[k] > lo[k] ? 1023.0 / (hi[k] - lo[k]) : 0.0;
    std::vector<uint64_t> keys;
    keys.reserve(finite_count);
    loose_.reserve(bodies.size() - finite_count);
    for (uint32_t i = 0; i < bodies.size(); ++i) {
        poll.tick();
        const Float3& p = bodies[i].position;
        if (!finite(p)) {
            loose_.push_back(i);
            continue;
        }
        uint64_t code = 0;
        for (int k = 0; k < 3; ++k)
            code |= spread(static_cast<uint64_t>((p[k] - lo[k]) * scale[k])) << k;
        keys.push_back(code << 32 | i);
    }
    poll_interrupt();
    sort_codes(keys, poll);
    items_.resize(keys.size());
    codes_.resize(keys.size());
    for (std::size_t j = 0; j < keys.size(); ++j) {
        // The bodies are read out of order: ask for them a little ahead.
        if (j + 16 < keys.size()) __builtin_prefetch(&bodies[static_cast<uint32_t>(keys[j + 16])]);
        const uint32_t i = static_cast<uint32_t>(keys[j]);
        codes_[j] = static_cast<uint32_t>(keys[j] >> 32);
        items_[j] = {box_min(bodies[i].position), box_max(bodies[i].position), i};
    }
    if (!items_.empty()) {
        nodes_.reserve(2 * (items_.size() / kLeafSize) + 1);
        build(0, static_cast<uint32_t>(items_.size()));
    }
    codes_ = {};
}

// Groups items [begin, end) under a new node, its first half right after it.
uint32_t RayIndex::build(uint32_t begin, uint32_t end) {
    // A group this small builds in well under a millisecond.
    if (end - begin >= (1u << 14)) poll_interrupt();
    const auto at = static_cast<uint32_t>(nodes_.size());
    if (end - begin <= kLeafSize) {
        Node leaf{items_[begin].lo, items_[begin].hi, begin, end - begin, 0};
        for (uint32_t i = begin + 1; i < end; ++i) {
            for (int k = 0; k < 3; ++k) {
                leaf.lo[k] = std::min(leaf.lo[k], items_[i].lo[k]);
                leaf.hi[k] = std::max(leaf.hi[k], items_[i].hi[k]);
            }
        }
        nodes_.push_back(leaf);
        return at;
    }
    nodes_.push_back({});
    // Split where the highest differing code bit changes, so that each
    // group is a cell of the curve; equal codes are halved.
    uint32_t middle = begin + (end - begin) / 2;
    const uint32_t differ = codes_[begin] ^ codes_[end - 1];
    if (differ != 0) {
        const uint32_t bit = 1u << (31 - std::countl_zero(differ));
        middle = static_cast<uint32_t>(
            std::partition_point(codes_.begin() + begin, codes_.begin() + end,
                                 [bit](uint32_t c) { return (c & bit) == 0; }) -
            codes_.begin());
    }
    const uint32_t left = build(begin, middle);
    const uint32_t right = build(middle, end);
    Node node{nodes_[left].lo, nodes_[left].hi, 0, 0, right};
    for (int k = 0; k < 3; ++k) {
        node.lo[k] = std::min(node.lo[k], nodes_[right].lo[k]);
        node.hi[k] = std::max(node.hi[k], nodes_[right].hi[k]);
    }
    nodes_[at] = node;
    return at;
}

NearestHit RayIndex::nearest(const Ray& ray) const noexcept {
    NearestHit best;
    if (!finite(ray.o) || !finite(ray.d)) {
        // Rounding no longer keeps an inner box's interval inside its
        // group's, so nothing is skipped.
        visit_all(ray, best);
        return best;
    }
    visit_tree(ray, best);
    visit_loose(ray, best);
    return best;
}

void RayIndex::visit_all(const Ray& ray, NearestHit& best) const noexcept {
    for (uint32_t i = 0; i < bodies_.size(); ++i) {
        if (const auto t = slab_hit(bodies_[i].position, ray)) offer(best, i, *t);
    }
}

void RayIndex::visit_loose(const Ray& ray, NearestHit& best) const noexcept {
    for (const uint32_t i : loose_) {
        if (const auto t = slab_hit(bodies_[i].position, ray)) offer(best, i, *t);
    }
}

// Every hit inside a group lies at or beyond max(tmin, 0) of the group's
// box, so a group whose bound is past the best distance is skipped; a
// group at exactly that distance is still entered, for an earlier body.
void RayIndex::visit_tree(const Ray& ray, NearestHit& best) const noexcept {
    if (nodes_.empty()) return;
    struct Pending {
        uint32_t node;
        float bound;
    };
    Pending stack[kMaxDepth + 2];
    int size = 0;
    float tmin, tmax;
    if (!slab_interval(nodes_[0].lo, nodes_[0].hi, ray, tmin, tmax)) return;
    stack[size++] = {0, max_of(tmin, 0.0f)};
    while (size > 0) {
        const Pending top = stack[--size];
        if (best.hit && top.bound > best.t) continue;
        const Node& node = nodes_[top.node];
        if (node.count != 0) {
            for (uint32_t i = node.first; i < node.first + node.count; ++i) {
                const Item& item = items_[i];
                if (!slab_interval(item.lo, item.hi, ray, tmin, tmax)) continue;
                offer(best, item.index, tmin >= 0.0f ? tmin : tmax);
            }
            continue;
        }
        Pending children[2] = {{top.node + 1, 0.0f}, {node.right, 0.0f}};
        bool reached[2];
        for (int c = 0; c < 2; ++c) {
            const Node& child = nodes_[children[c].node];
            reached[c] = slab_interval(child.lo, child.hi, ray, tmin, tmax);
            children[c].bound = max_of(tmin, 0.0f);
        }
        // The farther child goes on the stack first, so the nearer is taken next.
        const int nearer = reached[1] && (!reached[0] || children[1].bound < children[0].bound);
        if (reached[1 - nearer]) stack[size++] = children[1 - nearer];
        if (reached[nearer]) stack[size++] = children[nearer];
    }
}

}  // namespace core
