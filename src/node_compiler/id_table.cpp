#include "node_compiler/id_table.hpp"

#include <algorithm>
#include <cstring>

#include "common/grow.hpp"
#include "common/interrupt.hpp"
#include "common/seed.hpp"

namespace core {
namespace {

// The full 128-bit product of a and b, folded: low half xor high half. The
// high half is put together from 32-bit pieces, as standard C++ has no
// 128-bit integer.
uint64_t mix(uint64_t a, uint64_t b) noexcept {
    const uint64_t a_lo = a & 0xffffffffu, a_hi = a >> 32;
    const uint64_t b_lo = b & 0xffffffffu, b_hi = b >> 32;
    const uint64_t lo_lo = a_lo * b_lo, hi_lo = a_hi * b_lo;
    const uint64_t lo_hi = a_lo * b_hi, hi_hi = a_hi * b_hi;
    const uint64_t middle = (lo_lo >> 32) + (hi_lo & 0xffffffffu) + lo_hi;
    const uint64_t high = hi_hi + (hi_lo >> 32) + (middle >> 32);
    return (a * b) ^ high;
}

uint64_t load64(const char* p) noexcept {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

uint64_t load32(const char* p) noexcept {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

const uint64_t kSeed = process_seed();

constexpr uint64_t kOdd1 = 0xa0761d6478bd642fULL;
constexpr uint64_t kOdd2 = 0xe7037ed1a0b428dbULL;

// A multiply-fold hash in the manner of wyhash: 16 bytes per round, the tail
// read as (possibly overlapping) words.
uint64_t keyed_hash(std::string_view s) noexcept {
    const char* p = s.data();
    std::size_t n = s.size();
    uint64_t h = kSeed ^ mix(n ^ kOdd1, kOdd2);
    while (n > 16) {
        h = mix(load64(p) ^ kOdd1, load64(p + 8) ^ h);
        p += 16;
        n -= 16;
    }
    uint64_t a = 0, b = 0;
    if (n > 8) {
        a = load64(p);
        b = load64(p + n - 8);
    } else if (n >= 4) {
        a = load32(p) << 32 | load32(p + n - 4);
    } else if (n > 0) {
        const auto byte = [](char c) {
            return static_cast<uint64_t>(static_cast<unsigned char>(c));
        };
        a = byte(p[0]) << 16 | byte(p[n / 2]) << 8 | byte(p[n - 1]);
    }
    return mix(kOdd1 ^ s.size(), mix(a ^ kOdd2, b ^ h));
}

}  // namespace

uint32_t IdTable::intern(std::string_view text) {
    if (2 * (size() + 1) > slots_.size()) grow();
    const uint64_t h = keyed_hash(text);
    const uint64_t tag = h >> 32 << 32;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const uint64_t slot = slots_[i];
        if (slot == 0) {
            const auto index = static_cast<uint32_t>(size());
            reserve_for(chars_, text.size());
            chars_.append(text);
            push_back_polled(starts_, chars_.size());
            slots_[i] = tag | (index + 1);
            return index;
        }
        const auto index = static_cast<uint32_t>(slot) - 1;
        if ((slot & ~uint64_t{0xffffffff}) == tag && this->text(index) == text) return index;
    }
}

// A large table takes a good part of a second to grow: it looks for a stop
// on the way, and a stop leaves the table as it was.
void IdTable::grow() {
    const std::size_t count = slots_.empty() ? 64 : 2 * slots_.size();
    std::vector<uint64_t> slots;
    slots.reserve(count);
    while (slots.size() < count) {  // zeroed in pieces too
        poll_interrupt();
        slots.resize(std::min(count, slots.size() + (std::size_t{1} << 18)), 0);
    }
    const std::size_t mask = slots.size() - 1;
    InterruptPoll<(1u << 16)> poll;
    for (uint32_t index = 0; index < size(); ++index) {
        poll.tick();
        const uint64_t h = keyed_hash(text(index));
        std::size_t i = h & mask;
        while (slots[i] != 0) i = (i + 1) & mask;
        slots[i] = h >> 32 << 32 | (index + 1);
    }
    slots_ = std::move(slots);
}

}  // namespace core
