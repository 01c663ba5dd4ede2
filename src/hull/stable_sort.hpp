// A stable merge sort that stays in bounds and terminates whatever the
// comparison answers. The hull's angular order uses a collinearity tolerance,
// so for nearly collinear points it is not a strict weak order; std::sort may
// then run past the ends of its range. Here every index is bounded by the
// loop structure alone, and the answer for a given input is deterministic.
//
// The runs, and the merges of one width, are independent of each other, so
// they are shared out over the worker pool: every merge still compares the
// same items in the same order, so the answer does not depend on the split.
// Only the calling thread polls for an interrupt (a poll may call into the
// interpreter), once per chunk of work.
#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

#include "common/interrupt.hpp"

namespace core {

namespace merge_sort_detail {

// Items a chunk covers at the least: enough to pay for handing it out.
constexpr std::size_t kChunk = std::size_t{1} << 16;

// body(lo, hi) over [0, n) cut at multiples of `span`, spans grouped into
// chunks of at least kChunk items.
template <class Body>
void for_each_span(std::size_t n, std::size_t span, const Body& body) {
    const std::size_t per_chunk = std::max<std::size_t>(1, kChunk / span);
    const std::size_t spans = (n + span - 1) / span;
    const std::size_t chunks = (spans + per_chunk - 1) / per_chunk;
    const auto run_chunk = [&](std::size_t c) {
        const std::size_t end = std::min(spans, (c + 1) * per_chunk);
        for (std::size_t s = c * per_chunk; s < end; ++s) body(s * span, std::min(n, (s + 1) * span));
    };
    if (chunks == 1) {
        poll_interrupt();
        run_chunk(0);
        return;
    }
    const auto caller = std::this_thread::get_id();
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, chunks, 1),
        [&](const tbb::blocked_range<std::size_t>& r) {
            for (std::size_t c = r.begin(); c < r.end(); ++c) {
                if (std::this_thread::get_id() == caller) poll_interrupt();
                run_chunk(c);
            }
        },
        tbb::simple_partitioner());
}

}  // namespace merge_sort_detail

template <class T, class Less>
void stable_merge_sort(T* first, std::size_t n, Less less) {
    using merge_sort_detail::for_each_span;
    constexpr std::size_t kRun = 16;
    // Short runs by insertion: an element moves left only while it is
    // strictly before its neighbour, and never past the run's start.
    for_each_span(n, kRun, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo + 1; i < hi; ++i) {
            T item = first[i];
            std::size_t j = i;
            while (j > lo && less(item, first[j - 1])) {
                first[j] = first[j - 1];
                --j;
            }
            first[j] = item;
        }
    });
    if (n <= kRun) return;

    std::vector<T> buffer(n);
    T* from = first;
    T* to = buffer.data();
    for (std::size_t width = kRun; width < n; width *= 2) {
        for_each_span(n, 2 * width, [&](std::size_t lo, std::size_t hi) {
            std::size_t mid = std::min(hi, lo + width);
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
        });
        std::swap(from, to);
        if (width > n / 2) break;  // the next doubling would overflow or be a no-op
    }
    if (from != first) std::copy(from, from + n, first);
}

}  // namespace core
