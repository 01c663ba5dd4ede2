#include "physics/world.hpp"

#include <algorithm>
#include <cassert>
#include <numeric>
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
    handle_bound_ = std::max(handle_bound_, h);
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
    handle_bound_ = largest_handle();
    stepped_.clear();
    gravity_ = gravity;
    next_handle_ = next_handle;
}

}  // namespace core

namespace core {

PhysicsWorld::Growth PhysicsWorld::grow(std::size_t n) {
    const std::size_t old_size = bodies_.size();
    if (n > UINT32_MAX - old_size) throw RuntimeError("too many bodies in one world");
    // When every live handle lies below the counter and the new ones do not
    // wrap, none of them can be in use and the search for a free one is
    // skipped.
    const bool below =
        bodies_.empty() || handle_bound_ < next_handle_ || largest_handle() < next_handle_;
    const bool fresh = below && uint64_t{next_handle_} + n <= uint64_t{UINT32_MAX} + 1;
    index_.reserve(old_size + n);
    bodies_.resize(old_size + n);
    return {old_size, fresh};
}

void PhysicsWorld::name_new_bodies(Growth grown, std::span<uint32_t> handles) {
    assert(bodies_.size() == grown.old_size + handles.size());
    const uint32_t old_next = next_handle_;
    std::size_t named = 0;  // the bodies with an index entry
    try {
        if (grown.fresh) {
            // Consecutive handles, none in use: a block at a time.
            constexpr std::size_t kBlock = 1 << 14;
            InterruptPoll<kBlock> poll;
            while (named < handles.size()) {
                poll.tick(kBlock);
                const std::size_t end = std::min(handles.size(), named + kBlock);
                for (std::size_t i = named; i < end; ++i) {
                    handles[i] = old_next + static_cast<uint32_t>(i);
                    bodies_[grown.old_size + i].handle = handles[i];
                }
                index_.put_absent(handles.subspan(named, end - named),
                                  static_cast<uint32_t>(grown.old_size + named));
                named = end;
            }
            next_handle_ = old_next + static_cast<uint32_t>(handles.size());
            if (!handles.empty()) handle_bound_ = std::max(handle_bound_, handles.back());
        } else {
            InterruptPoll<(1u << 14)> poll;
            for (; named < handles.size(); ++named) {
                poll.tick();
                // As add_body: a handle still in use is skipped.
                uint32_t h = next_handle_;
                while (index_.contains(h)) ++h;
                const std::size_t row = grown.old_size + named;
                bodies_[row].handle = h;
                index_.put(h, static_cast<uint32_t>(row));
                next_handle_ = h + 1;
                handle_bound_ = std::max(handle_bound_, h);
                handles[named] = h;
            }
        }
    } catch (...) {
        // Every handle given out here was free, so these entries are ours.
        for (std::size_t j = 0; j < named; ++j) index_.erase(handles[j]);
        bodies_.resize(grown.old_size);
        next_handle_ = old_next;
        throw;
    }
    assert(index_.size() == bodies_.size());
}

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

// Handles are mostly small and dense: a table from handle to row made for
// one call answers far faster than the hash index, when making it costs less
// than the lookups it saves. Empty when it would not.
std::vector<uint32_t> PhysicsWorld::row_table(std::size_t lookups) const {
    // Not worth a table (nor the look for the largest handle) for a few lookups.
    const uint64_t budget = 16 * uint64_t{lookups};
    if (bodies_.size() > budget) return {};
    const auto too_large = [&](uint32_t top) {
        return uint64_t{top} + 1 + bodies_.size() > budget;
    };
    uint32_t top = handle_bound_;
    if (too_large(top)) top = largest_handle();
    std::vector<uint32_t> table;
    if (too_large(top)) return table;
    assert(largest_handle() <= top);
    table.assign(uint64_t{top} + 1, HandleIndex::kAbsent);
    for (std::size_t i = 0; i < bodies_.size(); ++i)
        table[bodies_[i].handle] = static_cast<uint32_t>(i);
    return table;
}

void PhysicsWorld::remove_bodies(std::span<const uint32_t> handles) {
    std::vector<uint32_t> table = row_table(handles.size());
    if (table.empty()) {
        remove_indexed(handles);
    } else {
        remove_tabled(handles, table);
    }
    assert(index_.size() == bodies_.size());
}

void PhysicsWorld::remove_indexed(std::span<const uint32_t> handles) {
    // A removed body is swapped to the end of the live part rather than
    // overwritten, and the array is cut only once every removal is made: a
    // stop puts them back, newest first, from the slots they were taken
    // from. The index follows each removal and keeps its room, so putting
    // entries back cannot fail.
    std::vector<uint32_t> slots;
    slots.reserve(handles.size());
    std::size_t live = bodies_.size();
    try {
        InterruptPoll<(1u << 14)> poll;
        for (const uint32_t handle : handles) {
            poll.tick();
            const uint32_t i = index_.take(handle);
            if (i == HandleIndex::kAbsent) continue;
            slots.push_back(i);
            const auto last = static_cast<uint32_t>(--live);
            if (i != last) {
                std::swap(bodies_[i], bodies_[last]);
                index_.repoint(bodies_[i].handle, i);
            }
        }
    } catch (...) {
        for (std::size_t k = slots.size(); k-- > 0;) {
            const uint32_t i = slots[k];
            const auto end = static_cast<uint32_t>(live++);
            if (i != end) {
                std::swap(bodies_[i], bodies_[end]);
                index_.repoint(bodies_[end].handle, end);
            }
            index_.put(bodies_[i].handle, i);
        }
        throw;
    }
    bodies_.resize(live);
}

void PhysicsWorld::remove_tabled(std::span<const uint32_t> handles, std::vector<uint32_t>& table) {
    // The removals are played on the table and on the row each body comes
    // from, the bodies left where they are: a stop changes nothing. Then
    // the bodies move at once. A body only ever moves from the last live
    // row, so every one that moved came from a row past the final live
    // part, which no move writes: each can be copied from where it was.
    std::vector<uint32_t> from(bodies_.size());
    std::iota(from.begin(), from.end(), 0u);
    std::size_t live = bodies_.size();
    InterruptPoll<(1u << 14)> poll;
    for (const uint32_t handle : handles) {
        poll.tick();
        if (handle >= table.size() || table[handle] == HandleIndex::kAbsent) continue;
        const uint32_t i = std::exchange(table[handle], HandleIndex::kAbsent);
        const auto last = static_cast<uint32_t>(--live);
        if (i != last) {
            from[i] = from[last];
            table[bodies_[from[i]].handle] = i;
        }
    }
    if (live == bodies_.size()) return;
    // Nothing from here on can fail: the index keeps its room.
    std::vector<uint32_t> kept(live);
    // A row that kept its body copies it onto itself: no branch to mispredict.
    for (std::size_t r = 0; r < live; ++r) bodies_[r] = bodies_[from[r]];
    bodies_.resize(live);
    for (std::size_t r = 0; r < live; ++r) kept[r] = bodies_[r].handle;
    index_.clear();
    index_.put_absent(kept, 0);
}

void PhysicsWorld::find_rows(std::span<const uint32_t> handles, std::span<int64_t> rows) const {
    assert(handles.size() == rows.size());
    const std::vector<uint32_t> table = row_table(handles.size());
    const auto row = [](uint32_t i) { return i == HandleIndex::kAbsent ? -1 : int64_t{i}; };
    InterruptPoll<(1u << 16)> poll;
    if (table.empty()) {
        for (std::size_t j = 0; j < handles.size(); ++j) {
            poll.tick();
            rows[j] = row(index_.find(handles[j]));
        }
        return;
    }
    // A table lookup is a load: the stop flag is looked at per block.
    constexpr std::size_t kBlock = 4096;
    const uint32_t* const at = table.data();
    const std::size_t size = table.size();
    for (std::size_t begin = 0; begin < handles.size(); begin += kBlock) {
        poll.tick(kBlock);
        const std::size_t end = std::min(handles.size(), begin + kBlock);
        for (std::size_t j = begin; j < end; ++j) {
            const uint32_t h = handles[j];
            rows[j] = row(h < size ? at[h] : HandleIndex::kAbsent);
        }
    }
}

}  // namespace core
