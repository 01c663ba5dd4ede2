// The native work of a call: run without the interpreter lock, split over
// oneTBB's shared pool (the one PhysicsWorld.step uses) or, with
// `workers=k`, over an arena of k threads made for that call alone; the
// shared pool's settings are never touched. A call never runs on more
// threads than the machine has: results do not depend on the split. Each item is computed on its
// own, so results do not depend on the split.
//
// Ctrl-C: only the calling thread looks for it, between blocks, with the
// lock taken back for the check; worker threads only read the call's stop
// flag and never touch the interpreter. A stopped call raises
// KeyboardInterrupt (the signal handler's exception) once every thread has
// left the work, so the caller can drop what it produced and change nothing.
#pragma once

#include <cstddef>

#include <nanobind/nanobind.h>

namespace core::arrays {

namespace nb = nanobind;

// Below this many items per block a call is not split further.
constexpr std::size_t kDefaultGrain = 4096;

// The most threads a call may ask for with `workers`.
constexpr long kMostWorkers = 256;

// `workers` as given by the caller: None is the shared pool (0), else an
// int from 1 to kMostWorkers (ValueError naming `workers` outside it), of
// which at most the machine's threads are made.
int checked_workers(nb::handle workers);

using BlockFn = void (*)(void* context, std::size_t begin, std::size_t end) noexcept;
// Called with the lock held; throws nb::python_error when stopped.
void run_blocks(std::size_t n, std::size_t grain, int workers, BlockFn block, void* context);

// body(begin, end) for blocks covering [0, n), at most `grain` items each:
// noexcept, no Python, writes only what belongs to its items.
template <class Body>
void parallel_for(std::size_t n, std::size_t grain, int workers, const Body& body) {
    run_blocks(
        n, grain, workers,
        [](void* context, std::size_t begin, std::size_t end) noexcept {
            (*static_cast<const Body*>(context))(begin, end);
        },
        const_cast<Body*>(&body));
}

}  // namespace core::arrays
