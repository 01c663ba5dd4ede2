// A hash map from handle to array index, flat: linear probing in one array
// of slots, removal by shifting later entries back (no tombstones). The hash
// mixes a per-process random seed held by each map, so its order is never
// observable and a map made by one module is read by another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace core {

class HandleIndex {
public:
    static constexpr uint32_t kAbsent = UINT32_MAX;  // an index no body can have

    HandleIndex() noexcept;

    std::size_t size() const noexcept { return size_; }
    // The index stored for `handle`, or kAbsent.
    uint32_t find(uint32_t handle) const noexcept;
    bool contains(uint32_t handle) const noexcept { return find(handle) != kAbsent; }
    // Stores handle -> index, replacing an existing entry. Grows (and may
    // throw std::bad_alloc) only when size() would pass what reserve() made
    // room for, so after a removal, putting the entry back cannot fail.
    void put(uint32_t handle, uint32_t index);
    // put(handles[k], first + k) for handles none of which is stored, as
    // the same puts one by one would store them; a batch's slots are
    // fetched before any is filled. Grows (and may throw) as put does.
    void put_absent(std::span<const uint32_t> handles, uint32_t first);
    // Points an existing entry at `index`.
    void repoint(uint32_t handle, uint32_t index) noexcept;
    // Removes the entry; false when there was none.
    bool erase(uint32_t handle) noexcept { return take(handle) != kAbsent; }
    // Removes the entry and gives its index, or kAbsent when there was none.
    uint32_t take(uint32_t handle) noexcept;
    // Room for `n` entries without growing.
    void reserve(std::size_t n);
    // f(handle, index) for every entry, in slot order.
    template <class F>
    void each(F&& f) const {
        for (const Slot& s : slots_)
            if (s.index != kAbsent) f(s.handle, s.index);
    }
    // Drops every entry and keeps the room.
    void clear() noexcept;

private:
    struct Slot {
        uint32_t handle;
        uint32_t index;  // kAbsent: an empty slot
    };

    std::size_t home(uint32_t handle) const noexcept;
    std::size_t slot_of(uint32_t handle) const noexcept;  // its slot, or an empty one
    void close_gap(std::size_t hole) noexcept;
    void rehash(std::size_t capacity);

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    std::size_t mask_ = 0;
    uint64_t seed_;
};

}  // namespace core
