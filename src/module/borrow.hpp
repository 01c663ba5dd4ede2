// The borrow protocol of every instance, for both native modules: a flag
// beside the value, shared by readers or held by one writer, and the texts
// of the RuntimeError a refused borrow raises. Plain C++: each module raises
// the text its own way.
#pragma once

#include <cstdint>

namespace core::py {

// 0 = free, n > 0 = shared by n readers, -1 = held by one writer.
struct BorrowFlag {
    int32_t state = 0;
};

inline constexpr const char* kAlreadyMutablyBorrowed = "Already mutably borrowed";
inline constexpr const char* kAlreadyBorrowed = "Already borrowed";

// Each gives nullptr when the borrow was taken, else the refusal's text.
inline const char* try_share(BorrowFlag& f) noexcept {
    if (f.state < 0) return kAlreadyMutablyBorrowed;
    ++f.state;
    return nullptr;
}
inline const char* try_exclusive(BorrowFlag& f) noexcept {
    if (f.state != 0) return kAlreadyBorrowed;
    f.state = -1;
    return nullptr;
}
// A value copied at once needs only that a shared borrow be possible.
inline const char* can_copy(const BorrowFlag& f) noexcept {
    return f.state < 0 ? kAlreadyMutablyBorrowed : nullptr;
}

inline void release_shared(BorrowFlag& f) noexcept { --f.state; }
inline void release_exclusive(BorrowFlag& f) noexcept { f.state = 0; }

}  // namespace core::py
