// The bodies of a world grouped into nested boxes for one batch of rays, so
// that a ray skips every group it cannot reach or that lies beyond its
// nearest hit so far. Built per batch: the world keeps no spatial structure
// between calls.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "physics/body.hpp"
#include "physics/slab.hpp"

namespace core {

// The first entry of PhysicsWorld::raycast: the smallest distance, and of
// equal ones the body earliest in array order.
struct NearestHit {
    bool hit = false;
    uint32_t index = 0;  // into the bodies the index was built from
    float t = INFINITY;
};

class RayIndex {
public:
    // Polls for an interrupt; throws std::bad_alloc.
    explicit RayIndex(std::span<const RigidBody> bodies);

    NearestHit nearest(const Ray& ray) const noexcept;

private:
    struct Item {
        Float3 lo, hi;  // the body's box, as the slab test computes it
        uint32_t index;
    };
    struct Node {
        Float3 lo, hi;          // around every box below
        uint32_t first, count;  // a leaf's items; count 0 marks an inner node
        uint32_t right;         // an inner node's second child (its first follows it)
    };

    uint32_t build(uint32_t begin, uint32_t end);
    void visit_all(const Ray& ray, NearestHit& best) const noexcept;
    void visit_tree(const Ray& ray, NearestHit& best) const noexcept;
    void visit_loose(const Ray& ray, NearestHit& best) const noexcept;

    std::span<const RigidBody> bodies_;
    std::vector<Item> items_;
    std::vector<Node> nodes_;
    std::vector<uint32_t> codes_;  // the items' curve codes while building
    // Bodies with a NaN or infinite coordinate: their boxes bound nothing,
    // so every finite ray tests them one by one.
    std::vector<uint32_t> loose_;
};

}  // namespace core
