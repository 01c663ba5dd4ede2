#include "core_call.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include <oneapi/tbb/task_arena.h>

#include "common/interrupt.hpp"
#include "core_object.hpp"
#include "module/refusals.hpp"

namespace core::arrays {

namespace {

using Clock = std::chrono::steady_clock;

// What stops the call the current thread works for: its stop flag, or for
// a first try on the calling thread, the time it may take.
struct Stop {
    const std::atomic<bool>* flag = nullptr;
    Clock::time_point deadline{};
};
thread_local const Stop* t_stop = nullptr;

bool stop_requested() noexcept {
    if (t_stop == nullptr) return false;
    if (t_stop->flag == nullptr) return Clock::now() > t_stop->deadline;
    return t_stop->flag->load(std::memory_order_relaxed);
}

// The cores compiled into this module poll the call's flag, never the
// interpreter (constant-initialised to null before this runs).
const bool kHooked = [] {
    core::interrupt_requested = &stop_requested;
    return true;
}();

// Well under the tenth of a second a stop may take.
constexpr auto kPollPeriod = std::chrono::milliseconds(20);
// How long a kUnknown call runs on the calling thread before it is made
// again on a thread of its own.
constexpr auto kFirstTry = std::chrono::milliseconds(20);

}  // namespace

void raise_core_error(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (...) {
        py::raise_current_exception(&raise_fault);
    }
    throw nb::python_error();
}

bool run_detached(const std::shared_ptr<DetachedJob>& job) {
    (void)kHooked;
    // The thread keeps its own reference: it may outlive this call.
    try {
        std::thread([job]() noexcept {
            job->run();
            std::unique_lock lock(job->mutex);
            job->done = true;
            const bool orphan = job->abandoned;
            job->finished.notify_one();
            lock.unlock();
            if (orphan) job->orphaned();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the work is done here, to its end.
        nb::gil_scoped_release unlocked;
        job->run();
        job->done = true;
        return true;
    }
    bool signalled = false;
    PyThreadState* state = PyEval_SaveThread();
    {
        std::unique_lock lock(job->mutex);
        while (!job->finished.wait_for(lock, kPollPeriod, [&] { return job->done; })) {
            lock.unlock();
            PyEval_RestoreThread(state);
            signalled = PyErr_CheckSignals() != 0;
            state = PyEval_SaveThread();
            lock.lock();
            if (signalled) {
                job->abandoned = !job->done;
                break;
            }
        }
    }
    PyEval_RestoreThread(state);
    return !signalled;
}

void run_core_call(Length length, int workers, void (*fn)(void*), void* context) {
    (void)kHooked;
    std::exception_ptr error;
    const auto guarded = [&](const Stop* stop) noexcept {
        t_stop = stop;
        try {
            if (workers == 0) {
                fn(context);
            } else {
                tbb::task_arena arena(workers);
                arena.execute([&] { fn(context); });
            }
        } catch (...) {
            error = std::current_exception();
        }
        t_stop = nullptr;
    };
    if (length != Length::kLong) {
        {
            nb::gil_scoped_release unlocked;
            if (length == Length::kShort) {
                guarded(nullptr);
            } else {
                const Stop first_try{nullptr, Clock::now() + kFirstTry};
                guarded(&first_try);
            }
        }
        if (!error) return;
        bool timed_out = false;
        try {
            std::rethrow_exception(error);
        } catch (const core::Interrupted&) {
            timed_out = length == Length::kUnknown;
        } catch (...) {}
        if (!timed_out) raise_core_error(error);
        error = nullptr;
    }

    std::atomic<bool> stop{false};
    bool signalled = false;  // a signal handler raised; its exception is set
    {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        PyThreadState* state = PyEval_SaveThread();
        const Stop watched{&stop, {}};
        std::thread worker;
        try {
            worker = std::thread([&]() noexcept {
                guarded(&watched);
                const std::lock_guard lock(mutex);
                done = true;
                finished.notify_one();
            });
        } catch (...) {
            PyEval_RestoreThread(state);
            throw;
        }
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, kPollPeriod, [&] { return done; })) {
            if (signalled) continue;
            lock.unlock();
            PyEval_RestoreThread(state);
            signalled = PyErr_CheckSignals() != 0;
            state = PyEval_SaveThread();
            if (signalled) stop.store(true, std::memory_order_relaxed);
            lock.lock();
        }
        lock.unlock();
        worker.join();
        PyEval_RestoreThread(state);
    }
    if (signalled) {
        if (error || !PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) throw nb::python_error();
        // The work finished (and may have changed an object) before it saw
        // the stop: the interrupt is raised again, after this call returns.
        PyErr_Clear();
        PyErr_SetInterrupt();
        return;
    }
    if (error) raise_core_error(error);
}

}  // namespace core::arrays
