#include "parallel.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>
#include <oneapi/tbb/task_arena.h>

#include "scalars.hpp"

namespace core::arrays {

namespace {

using Clock = std::chrono::steady_clock;
// Well under the tenth of a second a stop may take, with a block's time on top.
constexpr auto kPollPeriod = std::chrono::milliseconds(20);

// The calling thread's side of a call: its saved interpreter state and the
// time of its last look for a signal.
class Caller {
public:
    Caller() : id_(std::this_thread::get_id()), state_(PyEval_SaveThread()), last_(Clock::now()) {}
    ~Caller() { PyEval_RestoreThread(state_); }
    Caller(const Caller&) = delete;
    Caller& operator=(const Caller&) = delete;

    // On the calling thread, now and then: takes the lock back to run the
    // signal handlers, and sets `stop` when one raised.
    void poll(std::atomic<bool>& stop) noexcept {
        if (std::this_thread::get_id() != id_) return;
        const auto now = Clock::now();
        if (now - last_ < kPollPeriod) return;
        last_ = now;
        PyEval_RestoreThread(state_);
        if (PyErr_CheckSignals() != 0) stop.store(true, std::memory_order_relaxed);
        state_ = PyEval_SaveThread();
    }

private:
    std::thread::id id_;
    PyThreadState* state_;
    Clock::time_point last_;
};

}  // namespace

int checked_workers(nb::handle workers) {
    if (workers.is_none()) return 0;
    const long asked =
        index_arg(workers, "workers", 1, kMostWorkers, "None or an int from 1 to 256");
    static const int kMachine = std::max(1, tbb::info::default_concurrency());
    return static_cast<int>(std::min<long>(asked, kMachine));
}

void run_blocks(std::size_t n, std::size_t grain, int workers, BlockFn block, void* context) {
    if (n == 0) return;
    std::atomic<bool> stop{false};
    {
        Caller caller;
        const auto each = [&](const tbb::blocked_range<std::size_t>& r) {
            if (stop.load(std::memory_order_relaxed)) return;
            caller.poll(stop);
            if (stop.load(std::memory_order_relaxed)) return;
            block(context, r.begin(), r.end());
        };
        const tbb::blocked_range<std::size_t> all(0, n, grain);
        if (n <= grain || workers == 1) {
            // One thread: blocks in order on the caller, still interruptible.
            for (std::size_t begin = 0; begin < n; begin += grain)
                each(tbb::blocked_range<std::size_t>(begin, std::min(n, begin + grain), grain));
        } else if (workers == 0) {
            tbb::parallel_for(all, each, tbb::simple_partitioner());
        } else {
            tbb::task_arena arena(workers);
            arena.execute([&] { tbb::parallel_for(all, each, tbb::simple_partitioner()); });
        }
    }
    if (stop.load(std::memory_order_relaxed)) throw nb::python_error();
}

}  // namespace core::arrays
