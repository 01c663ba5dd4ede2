// A set of bodies stored by value in one dense array and named by handles.
// Removal swaps the last body into the freed slot, so array order (which
// `step` and `raycast` report in) is not insertion order after a removal.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "physics/body.hpp"
#include "physics/broad_phase.hpp"
#include "physics/handle_index.hpp"

namespace core {

using RayHit = std::tuple<uint32_t, float>;

class PhysicsWorld {
public:
    PhysicsWorld() = default;

    void set_gravity(float gx, float gy, float gz) noexcept { gravity_ = {gx, gy, gz}; }
    Float3 gravity() const noexcept { return gravity_; }

    // Stores a copy of `body` under a new handle. The counter wraps at 2^32;
    // a handle still in use is skipped, never issued twice.
    uint32_t add_body(const RigidBody& body);
    void remove_body(uint32_t handle);
    // add_body for each of handles.size() bodies, their handles in
    // `handles`. fill(span) writes the bodies in place in the world's
    // array, where they start as default bodies; the handles it sets are
    // replaced. Refused beyond 2^32 - 1 bodies; a call stopped by an
    // interrupt, a failed allocation or a throwing fill leaves the world as
    // it was.
    template <class Fill>
    void add_bodies(std::span<uint32_t> handles, Fill&& fill) {
        const Growth grown = grow(handles.size());
        try {
            fill(std::span<RigidBody>(bodies_).subspan(grown.old_size));
        } catch (...) {
            bodies_.resize(grown.old_size);
            throw;
        }
        name_new_bodies(grown, handles);
    }
    // The same for copies of `bodies` (as many as `handles`), in order.
    void add_bodies(std::span<const RigidBody> bodies, std::span<uint32_t> handles) {
        add_bodies(handles, [&](std::span<RigidBody> made) {
            std::copy(bodies.begin(), bodies.end(), made.begin());
        });
    }
    // remove_body for each handle in order; stopped, it leaves the world as
    // it was.
    void remove_bodies(std::span<const uint32_t> handles);
    // The array index of each handle, -1 for an unknown one, into `rows`
    // (as many).
    void find_rows(std::span<const uint32_t> handles, std::span<int64_t> rows) const;
    uint64_t body_count() const noexcept { return bodies_.size(); }
    std::optional<Float3> get_position(uint32_t handle) const;
    void set_position(uint32_t handle, float x, float y, float z);

    // Integrates every body, then returns the handle pairs whose boxes
    // overlap, in array order. The new states are kept aside until the
    // pairs are found, so a step stopped by an interrupt or a failed
    // allocation leaves the world as it was.
    std::vector<HandlePair> step(float dt);
    std::vector<RayHit> raycast(float ox, float oy, float oz, float dx, float dy, float dz) const;

    std::span<const RigidBody> bodies() const noexcept { return bodies_; }
    // Only add_body advances the counter; this lets a test reach the wrap
    // without 2^32 calls.
    void set_next_handle(uint32_t h) noexcept { next_handle_ = h; }
    const RigidBody* find(uint32_t handle) const;

    // What a copy made elsewhere needs beyond the bodies: the counter and
    // the handle index as stored, visited as f(handle, array index).
    uint32_t next_handle() const noexcept { return next_handle_; }
    template <class F>
    void each_index_entry(F&& f) const {
        index_.each(f);
    }
    // Replaces the whole state at once. Throws std::invalid_argument, the
    // world unchanged, unless `index` names every body by its own handle
    // exactly once.
    void restore(Float3 gravity, std::vector<RigidBody> bodies,
                 std::span<const std::pair<uint32_t, uint32_t>> index, uint32_t next_handle);

private:
    struct Growth {
        std::size_t old_size;
        bool fresh;  // every new handle is free: none is looked for
    };
    // Default bodies appended for `n` more, and index room for them.
    Growth grow(std::size_t n);
    // Hands out the handles of the bodies past old_size; a failure cuts
    // them off again.
    void name_new_bodies(Growth grown, std::span<uint32_t> handles);
    // handle -> row (kAbsent for none), or empty when `lookups` are too few.
    std::vector<uint32_t> row_table(std::size_t lookups) const;
    // remove_bodies through the index, and through a table of rows.
    void remove_indexed(std::span<const uint32_t> handles);
    void remove_tabled(std::span<const uint32_t> handles, std::vector<uint32_t>& table);
    uint32_t largest_handle() const noexcept;  // 0 for no bodies

    std::vector<RigidBody> bodies_;
    std::vector<RigidBody> stepped_;  // the next states during a step
    HandleIndex index_;  // its seed is the making module's; handles are found from either
    uint32_t next_handle_ = 1;
    // No live handle is above it. Removals leave it, so it may lie far
    // above the largest one; it spares the look for that one when it is
    // small enough anyway.
    uint32_t handle_bound_ = 0;
    Float3 gravity_{0.0f, -980.0f, 0.0f};
    BroadPhase broad_phase_;
    std::size_t last_pair_count_ = 0;
};

}  // namespace core
