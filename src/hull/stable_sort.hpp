// A stable merge sort that stays in bounds and terminates whatever the
// comparison answers. The hull's angular order uses a collinearity tolerance,
// so for nearly collinear points it is not a strict weak order; std::sort may
// then run past the ends of its range. Here every index is bounded by the
// loop structure alone, and the answer for a given input is deterministic.
//
// The runs, and the merges of one width, are independent of each other: they
// are shared out over the worker pool, and two merges advance side by side.
// Every merge still compares the same items in the same order, so the answer
// does not depend on either. Only the calling thread polls for an interrupt
// (a poll may call into the interpreter), once per chunk of work.
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

// body(lo, hi) over [0, n) in chunks of whole spans of `span` items (a power
// of two), at least kChunk items each but the last.
template <class Body>
void for_each_chunk(std::size_t n, std::size_t span, const Body& body) {
    const std::size_t size = std::max(kChunk, span);
    const std::size_t chunks = (n + size - 1) / size;
    if (chunks <= 1) {
        poll_interrupt();
        body(std::size_t{0}, n);
        return;
    }
    const auto caller = std::this_thread::get_id();
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, chunks, 1),
        [&](const tbb::blocked_range<std::size_t>& r) {
            for (std::size_t c = r.begin(); c < r.end(); ++c) {
                if (std::this_thread::get_id() == caller) poll_interrupt();
                body(c * size, std::min(n, (c + 1) * size));
            }
        },
        tbb::simple_partitioner());
}

// One merge of from[lo, mid) and from[mid, hi) into to[lo, hi).
template <class T>
struct Merge {
    const T* from;
    T* to;
    std::size_t a, mid, b, hi, out;

    Merge(const T* f, T* t, std::size_t lo, std::size_t m, std::size_t h)
        : from(f), to(t), a(lo), mid(m), b(m), hi(h), out(lo) {}

    bool open() const { return a < mid && b < hi; }

    // Ties take the left run first, which keeps the sort stable.
    // Branch-free selection: the comparison outcome is unpredictable.
    template <class Less>
    void step(Less& less) {
        const bool right = less(from[b], from[a]);
        to[out++] = right ? from[b] : from[a];
        b += right;
        a += !right;
    }

    template <class Less>
    void finish(Less& less) {
        while (open()) step(less);
        while (a < mid) to[out++] = from[a++];
        while (b < hi) to[out++] = from[b++];
    }
};

}  // namespace merge_sort_detail

template <class T, class Less>
void stable_merge_sort(T* first, std::size_t n, Less less) {
    using merge_sort_detail::for_each_chunk;
    using merge_sort_detail::Merge;
    constexpr std::size_t kRun = 16;
    // Short runs by insertion: an element moves left only while it is
    // strictly before its neighbour, and never past the run's start.
    for_each_chunk(n, kRun, [&](std::size_t begin, std::size_t end) {
        for (std::size_t lo = begin; lo < end; lo += kRun) {
            const std::size_t hi = std::min(end, lo + kRun);
            for (std::size_t i = lo + 1; i < hi; ++i) {
                T item = first[i];
                std::size_t j = i;
                while (j > lo && less(item, first[j - 1])) {
                    first[j] = first[j - 1];
                    --j;
                }
                first[j] = item;
            }
        }
    });
    if (n <= kRun) return;

    std::vector<T> buffer(n);
    T* from = first;
    T* to = buffer.data();
    for (std::size_t width = kRun; width < n; width *= 2) {
        // Each step of a merge waits on its last comparison; a second merge
        // stepped alongside fills the wait.
        for_each_chunk(n, 2 * width, [&](std::size_t begin, std::size_t end) {
            for (std::size_t lo = begin; lo < end; lo += 4 * width) {
                const std::size_t lo2 = std::min(end, lo + 2 * width);
                const std::size_t hi2 = std::min(end, lo2 + 2 * width);
                Merge<T> m1(from, to, lo, std::min(lo2, lo + width), lo2);
                Merge<T> m2(from, to, lo2, std::min(hi2, lo2 + width), hi2);
                while (m1.open() && m2.open()) {
                    m1.step(less);
                    m2.step(less);
                }
                m1.finish(less);
                m2.finish(less);
            }
        });
        std::swap(from, to);
        if (width > n / 2) break;  // the next doubling would overflow or be a no-op
    }
    if (from != first) std::copy(from, from + n, first);
}

}  // namespace core
