#include "physics/handle_index.hpp"

#include <algorithm>
#include <cstring>

#include "common/seed.hpp"

namespace core {
namespace {

const uint64_t kHandleSeed = process_seed();

// At most three slots in four are used: runs stay short enough for cheap
// probes and removals, and the table small enough to stay in cache.
constexpr std::size_t room(std::size_t capacity) noexcept { return capacity - capacity / 4; }

constexpr std::size_t capacity_for(std::size_t n) noexcept {
    std::size_t c = 16;
    while (room(c) < n) c *= 2;
    return c;
}

}  // namespace

HandleIndex::HandleIndex() noexcept : seed_(kHandleSeed) {}

std::size_t HandleIndex::home(uint32_t handle) const noexcept {
    uint64_t state = handle + seed_;
    return static_cast<std::size_t>(splitmix64(state)) & mask_;
}

std::size_t HandleIndex::slot_of(uint32_t handle) const noexcept {
    std::size_t s = home(handle);
    while (slots_[s].index != kAbsent && slots_[s].handle != handle) s = (s + 1) & mask_;
    return s;
}

uint32_t HandleIndex::find(uint32_t handle) const noexcept {
    if (size_ == 0) return kAbsent;
    return slots_[slot_of(handle)].index;
}

void HandleIndex::put(uint32_t handle, uint32_t index) {
    if (slots_.empty() || size_ + 1 > room(slots_.size()))
        rehash(capacity_for(size_ + 1 > size_ * 2 ? size_ + 1 : size_ * 2));
    Slot& slot = slots_[slot_of(handle)];
    if (slot.index == kAbsent) {
        slot.handle = handle;
        ++size_;
    }
    slot.index = index;
}

void HandleIndex::put_absent(std::span<const uint32_t> handles, uint32_t first) {
    if (handles.empty()) return;
    reserve(size_ + handles.size());
    constexpr std::size_t kBatch = 16;
    std::size_t homes[kBatch];
    for (std::size_t b = 0; b < handles.size(); b += kBatch) {
        const std::size_t m = std::min(kBatch, handles.size() - b);
        for (std::size_t k = 0; k < m; ++k) {
            homes[k] = home(handles[b + k]);
            __builtin_prefetch(&slots_[homes[k]], 1);
        }
        for (std::size_t k = 0; k < m; ++k) {
            std::size_t s = homes[k];
            while (slots_[s].index != kAbsent) s = (s + 1) & mask_;
            slots_[s] = Slot{handles[b + k], static_cast<uint32_t>(first + b + k)};
        }
    }
    size_ += handles.size();
}

void HandleIndex::repoint(uint32_t handle, uint32_t index) noexcept {
    slots_[slot_of(handle)].index = index;
}

uint32_t HandleIndex::take(uint32_t handle) noexcept {
    if (size_ == 0) return kAbsent;
    const std::size_t s = slot_of(handle);
    const uint32_t index = slots_[s].index;
    if (index == kAbsent) return kAbsent;
    slots_[s].index = kAbsent;
    --size_;
    close_gap(s);
    return index;
}

// Later entries of the run move back into the hole when their home does not
// lie between the hole and themselves, so every entry stays reachable from
// its home without gaps.
void HandleIndex::close_gap(std::size_t hole) noexcept {
    for (std::size_t s = (hole + 1) & mask_; slots_[s].index != kAbsent; s = (s + 1) & mask_) {
        const std::size_t h = home(slots_[s].handle);
        const bool stays = hole <= s ? (hole < h && h <= s) : (hole < h || h <= s);
        if (stays) continue;
        slots_[hole] = slots_[s];
        slots_[s].index = kAbsent;
        hole = s;
    }
}

void HandleIndex::reserve(std::size_t n) {
    if (n > 0 && (slots_.empty() || n > room(slots_.size()))) rehash(capacity_for(n));
}

// Every byte of an empty slot is 0xff: a table empties at the speed of a
// memset.
static_assert(HandleIndex::kAbsent == UINT32_MAX);

void HandleIndex::clear() noexcept {
    if (!slots_.empty()) std::memset(slots_.data(), 0xff, slots_.size() * sizeof(Slot));
    size_ = 0;
}

void HandleIndex::rehash(std::size_t capacity) {
    std::vector<Slot> old(capacity, Slot{kAbsent, kAbsent});
    old.swap(slots_);
    mask_ = capacity - 1;
    for (const Slot& slot : old) {
        if (slot.index == kAbsent) continue;
        slots_[slot_of(slot.handle)] = slot;
    }
}

}  // namespace core
