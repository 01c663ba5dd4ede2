// Appending to a vector (or string) that may grow to hundreds of megabytes:
// one reallocation then copies for a good part of a second, so past a size
// the copy is made in pieces with a look at the stop flag between them. A
// stop leaves the vector as it was.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

#include "common/interrupt.hpp"

namespace core {

template <class V>
void reserve_for(V& v, std::size_t more) {
    constexpr std::size_t kLarge = std::size_t{1} << 22;  // bytes
    constexpr std::size_t kPiece = std::size_t{1} << 21;
    using T = typename V::value_type;
    if (v.size() + more <= v.capacity() || v.capacity() * sizeof(T) < kLarge) return;
    V bigger;
    bigger.reserve(std::max(2 * v.capacity(), v.size() + more));
    const std::size_t step = kPiece / sizeof(T);
    for (std::size_t at = 0; at < v.size(); at += step) {
        poll_interrupt();
        bigger.insert(bigger.end(), v.begin() + static_cast<std::ptrdiff_t>(at),
                      v.begin() + static_cast<std::ptrdiff_t>(std::min(at + step, v.size())));
    }
    v.swap(bigger);
}

template <class V, class T>
void push_back_polled(V& v, T&& x) {
    reserve_for(v, 1);
    v.push_back(std::forward<T>(x));
}

}  // namespace core
