#include "physics/world.hpp"

#include <algorithm>
#include <cassert>
#include <stdexcept>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "physics/integrate.hpp"

namespace core {

uint32_t PhysicsWorld::add_body(const RigidBody& body) {
    // Array indices are 32-bit; this many bodies cannot fit in memory anyway.
    if (bodies_.size() >= UINT32_MAX) throw RuntimeError("too many bodies in one world");
    // After the counter wraps, reissuing a live handle would leave the older
    // body unreachable and let a later swap-remove repoint its entry, so the
    // next free handle is taken instead. Fewer than 2^32 handles are live,
    // so one is always free.
    uint32_t h = next_handle_;
    while (index_.contains(h)) ++h;
    RigidBody stored = body;
    stored.handle = h;
    bodies_.push_back(stored);
    try {
        index_.put(h, static_cast<uint32_t>(bodies_.size() - 1));
    } catch (...) {
        bodies_.pop_back();  // a failed add leaves the world as it was
        throw;
    }
    next_handle_ = h + 1;
    assert(index_.size() == bodies_.size());
    return h;
}

void PhysicsWorld::remove_body(uint32_t handle) {
    const uint32_t i = index_.take(handle);
    if (i == HandleIndex::kAbsent) return;
    assert(i < bodies_.size() && bodies_[i].handle == handle);
    const uint32_t last = static_cast<uint32_t>(bodies_.size() - 1);
    if (i != last) {
        bodies_[i] = bodies_[last];
        index_.repoint(bodies_[i].handle, i);
    }
    bodies_.pop_back();
    assert(index_.size() == bodies_.size());
}

const RigidBody* PhysicsWorld::find(uint32_t handle) const {
    const uint32_t i = index_.find(handle);
    if (i == HandleIndex::kAbsent) return nullptr;
    assert(i < bodies_.size() && bodies_[i].handle == handle);
    return &bodies_[i];
}

std::optional<Float3> PhysicsWorld::get_position(uint32_t handle) const {
    const RigidBody* b = find(handle);
    if (b == nullptr) return std::nullopt;
    return b->position;
}

void PhysicsWorld::set_position(uint32_t handle, float x, float y, float z) {
    const uint32_t i = index_.find(handle);
    if (i != HandleIndex::kAbsent) bodies_[i].set_position(x, y, z);
}

std::vector<HandlePair> PhysicsWorld::step(float dt) {
    stepped_.resize(bodies_.size());
    integrate_all(bodies_, stepped_, gravity_, dt);
    std::vector<HandlePair> pairs;
    pairs.reserve(last_pair_count_);
    broad_phase_.find_pairs(stepped_, pairs);
    bodies_.swap(stepped_);
    last_pair_count_ = pairs.size();
    return pairs;
}

void PhysicsWorld::restore(Float3 gravity, std::vector<RigidBody> bodies,
                           std::span<const std::pair<uint32_t, uint32_t>> index,
                           uint32_t next_handle) {
    HandleIndex fresh;
    fresh.reserve(index.size());
    if (index.size() != bodies.size())
        throw std::invalid_argument("the handle index and the bodies differ in length");
    for (const auto& [handle, at] : index) {
        if (at >= bodies.size() || bodies[at].handle != handle || fresh.contains(handle))
            throw std::invalid_argument("the handle index does not name each body once");
        fresh.put(handle, at);
    }
    bodies_ = std::move(bodies);
    index_ = std::move(fresh);
    stepped_.clear();
    gravity_ = gravity;
    next_handle_ = next_handle;
}

}  // namespace core

namespace core {

void PhysicsWorld::add_bodies(std::span<const RigidBody> bodies, std::span<uint32_t> handles) {
    assert(bodies.size() == handles.size());
    if (bodies.size() > UINT32_MAX - bodies_.size())
        throw RuntimeError("too many bodies in one world");
    const std::size_t old_size = bodies_.size();
    const uint32_t old_next = next_handle_;
    bodies_.reserve(old_size + bodies.size());
    index_.reserve(old_size + bodies.size());
    // When every live handle lies below the counter and the new ones do not
    // wrap, none of them can be in use and the search for a free one is
    // skipped.
    const uint32_t top = largest_handle();
    const bool fresh = (bodies_.empty() || top < next_handle_) &&
                       uint64_t{next_handle_} + bodies.size() <= uint64_t{UINT32_MAX} + 1;
    try {
        InterruptPoll<(1u << 14)> poll;
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            poll.tick();
            // As add_body: a handle still in use is skipped.
            uint32_t h = next_handle_;
            while (!fresh && index_.contains(h)) ++h;
            RigidBody stored = bodies[i];
            stored.handle = h;
            bodies_.push_back(stored);
            index_.put(h, static_cast<uint32_t>(bodies_.size() - 1));
            next_handle_ = h + 1;
            handles[i] = h;
        }
    } catch (...) {
        // Every handle given out here was free, so these entries are ours.
        for (std::size_t j = old_size; j < bodies_.size(); ++j) index_.erase(bodies_[j].handle);
        bodies_.resize(old_size);
        next_handle_ = old_next;
        throw;
    }
    assert(index_.size() == bodies_.size());
}

// Handles are mostly small and dense: a table from handle to row made for
// one call answers far faster than the hash index, when making it costs less
// than the lookups it saves. Empty when it would not.
uint32_t PhysicsWorld::largest_handle() const noexcept {
    // Four running maxima, so that each step waits for the fourth before it.
    uint32_t top[4] = {0, 0, 0, 0};
    const std::size_t n = bodies_.size();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
        for (std::size_t k = 0; k < 4; ++k) top[k] = std::max(top[k], bodies_[i + k].handle);
    for (; i < n; ++i) top[0] = std::max(top[0], bodies_[i].handle);
    return std::max(std::max(top[0], top[1]), std::max(top[2], top[3]));
}

std::vector<uint32_t> PhysicsWorld::row_table(std::size_t lookups) const {
    // Not worth a table (nor the look for the largest handle) for a few lookups.
    if (bodies_.size() > 16 * uint64_t{lookups}) return {};
    const uint32_t top = largest_handle();
    const uint64_t size = uint64_t{top} + 1;
    std::vector<uint32_t> table;
    if (size + bodies_.size() > 16 * uint64_t{lookups}) return table;
    table.assign(size, HandleIndex::kAbsent);
    for (std::size_t i = 0; i < bodies_.size(); ++i)
        table[bodies_[i].handle] = static_cast<uint32_t>(i);
    return table;
}

void PhysicsWorld::remove_bodies(std::span<const uint32_t> handles) {
    // A removed body is swapped to the end of the live part rather than
    // overwritten, and the array is cut only once every removal is made: a
    // stop puts them back, newest first, from the slots they were taken
    // from. With a table of rows the index is left alone until the end and
    // then made again from the array; without one it follows each removal
    // and keeps its room, so putting entries back cannot fail.
    std::vector<uint32_t> table = row_table(handles.size());
    const bool tabled = !table.empty();
    std::vector<uint32_t> slots;
    slots.reserve(handles.size());
    std::size_t live = bodies_.size();
    try {
        InterruptPoll<(1u << 14)> poll;
        for (const uint32_t handle : handles) {
            poll.tick();
            uint32_t i;
            if (tabled) {
                if (handle >= table.size() || table[handle] == HandleIndex::kAbsent) continue;
                i = std::exchange(table[handle], HandleIndex::kAbsent);
            } else {
                i = index_.take(handle);
                if (i == HandleIndex::kAbsent) continue;
            }
            slots.push_back(i);
            const auto last = static_cast<uint32_t>(--live);
            if (i != last) {
                std::swap(bodies_[i], bodies_[last]);
                if (tabled) {
                    table[bodies_[i].handle] = i;
                } else {
                    index_.repoint(bodies_[i].handle, i);
                }
            }
        }
    } catch (...) {
        for (std::size_t k = slots.size(); k-- > 0;) {
            const uint32_t i = slots[k];
            const auto end = static_cast<uint32_t>(live++);
            if (i != end) {
                std::swap(bodies_[i], bodies_[end]);
                if (!tabled) index_.repoint(bodies_[end].handle, end);
            }
            if (!tabled) index_.put(bodies_[i].handle, i);
        }
        throw;
    }
    bodies_.resize(live);
    if (tabled && !slots.empty()) {
        index_.clear();
        for (std::size_t i = 0; i < live; ++i)
            index_.put(bodies_[i].handle, static_cast<uint32_t>(i));
    }
    assert(index_.size() == bodies_.size());
}

void PhysicsWorld::find_rows(std::span<const uint32_t> handles, std::span<int64_t> rows) const {
    assert(handles.size() == rows.size());
    const std::vector<uint32_t> table = row_table(handles.size());
    InterruptPoll<(1u << 16)> poll;
    for (std::size_t j = 0; j < handles.size(); ++j) {
        poll.tick();
        const uint32_t h = handles[j];
        const uint32_t i = table.empty()      ? index_.find(h)
                           : h < table.size() ? table[h]
                                              : HandleIndex::kAbsent;
        rows[j] = i == HandleIndex::kAbsent ? -1 : static_cast<int64_t>(i);
    }
}

}  // namespace core
