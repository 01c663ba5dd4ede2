#include "core_call.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include <oneapi/tbb/task_arena.h>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace core::arrays {

namespace {

// The stop flag of the call the current thread works for, if any.
thread_local const std::atomic<bool>* t_stop = nullptr;

bool stop_requested() noexcept {
    return t_stop != nullptr && t_stop->load(std::memory_order_relaxed);
}

// The cores compiled into this module poll the call's flag, never the
// interpreter (constant-initialised to null before this runs).
const bool kHooked = [] {
    core::interrupt_requested = &stop_requested;
    return true;
}();

// Well under the tenth of a second a stop may take.
constexpr auto kPollPeriod = std::chrono::milliseconds(20);

// Raises `error` as _core's binding layer raises the cores' exceptions.
[[noreturn]] void raise_core_error(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const core::Interrupted&) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const core::ValueError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const core::RuntimeError& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    throw nb::python_error();
}

}  // namespace

void run_core_call(bool long_work, int workers, void (*fn)(void*), void* context) {
    (void)kHooked;
    std::exception_ptr error;
    const auto guarded = [&]() noexcept {
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
    };
    if (!long_work) {
        {
            nb::gil_scoped_release unlocked;
            guarded();
        }
        if (error) raise_core_error(error);
        return;
    }

    std::atomic<bool> stop{false};
    bool signalled = false;  // a signal handler raised; its exception is set
    {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        PyThreadState* state = PyEval_SaveThread();
        std::thread worker([&]() noexcept {
            t_stop = &stop;
            guarded();
            const std::lock_guard lock(mutex);
            done = true;
            finished.notify_one();
        });
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
