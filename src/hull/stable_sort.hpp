// A stable merge sort that stays in bounds and terminates whatever the
// comparison answers. The hull's angular order uses a collinearity tolerance,
// so for nearly collinear points it is not a strict weak order; std::sort may
// then run past the ends of its range. Here every index is bounded by the
// loop structure alone, and the answer for a given input is deterministic.
// Sorting millions of items takes a second or more: it polls for Ctrl-C as it goes
// and unwinds with `Interrupted`, leaving the range permuted.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/interrupt.hpp"

namespace core {

template <class T, class Less>
void stable_merge_sort(T* first, std::size_t n, Less less) {
    constexpr std::size_t kRun = 16;
    InterruptPoll<> poll;
    // Short runs by insertion: an element moves left only while it is
    // strictly before its neighbour, and never past the run's start.
    for (std::size_t lo = 0; lo < n; lo += kRun) {
        std::size_t hi = std::min(n, lo + kRun);
        for (std::size_t i = lo + 1; i < hi; ++i) {
            T item = first[i];
            std::size_t j = i;
            while (j > lo && less(item, first[j - 1])) {
                first[j] = first[j - 1];
                --j;
            }
            first[j] = item;
        }
        poll.tick(kRun);
    }
    if (n <= kRun) return;

    std::vector<T> buffer(n);
    T* from = first;
    T* to = buffer.data();
    for (std::size_t width = kRun; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            std::size_t mid = std::min(n, lo + width);
            std::size_t hi = std::min(n, mid + width);
            std::size_t a = lo, b = mid, out = lo;
            // Ties take the left run first, which keeps the sort stable.
            // Branch-free selection: the comparison outcome is unpredictable.
            while (a < mid && b < hi) {
                bool right = less(from[b], from[a]);
                to[out++] = right ? from[b] : from[a];
                b += right;
                a += !right;
            }
            while (a < mid) to[out++] = from[a++];
            while (b < hi) to[out++] = from[b++];
            poll.tick(hi - lo);
        }
        std::swap(from, to);
        if (width > n / 2) break;  // the next doubling would overflow or be a no-op
    }
    if (from != first) std::copy(from, from + n, first);
}

}  // namespace core
