// The integration pass of a world step, the one place work leaves the
// calling thread.
#include <pthread.h>

#include <atomic>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

#include "physics/integrate.hpp"

namespace core {
namespace {

// A body update is a handful of float operations, so handing a range to a
// pool thread only pays off for thousands of bodies; a world this small or
// smaller stays on the calling thread and never wakes the pool.
constexpr std::size_t kGrain = 16384;

// A child forked after the pool started inherits the pool's bookkeeping but
// none of its threads, so such a child integrates on its own thread. The
// result does not depend on how the pass is split.
std::atomic<bool> g_pool_started{false};
std::atomic<bool> g_pool_lost{false};

void mark_forked() noexcept {
    if (g_pool_started.load(std::memory_order_relaxed)) {
        g_pool_lost.store(true, std::memory_order_relaxed);
    }
}

const int kAtForkRegistered = pthread_atfork(nullptr, nullptr, &mark_forked);

void integrate_range(const RigidBody* in, RigidBody* out, std::size_t n, const Float3& g,
                     float dt) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = in[i];
        out[i].integrate(g[0], g[1], g[2], dt);
    }
}

}  // namespace

void integrate_all(std::span<const RigidBody> in, std::span<RigidBody> out, Float3 g, float dt) {
    (void)kAtForkRegistered;
    if (in.size() <= kGrain || g_pool_lost.load(std::memory_order_relaxed)) {
        integrate_range(in.data(), out.data(), in.size(), g, dt);
        return;
    }
    g_pool_started.store(true, std::memory_order_relaxed);
    // Halves are split recursively down to the grain; every body is written
    // by exactly one task.
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, in.size(), kGrain),
        [&](const tbb::blocked_range<std::size_t>& r) {
            integrate_range(in.data() + r.begin(), out.data() + r.begin(), r.size(), g, dt);
        },
        tbb::simple_partitioner());
}

}  // namespace core
