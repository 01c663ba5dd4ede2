// One call into a core that runs as a whole (a step, a hull): made without
// the interpreter lock on a thread of its own, while the calling thread
// looks for Ctrl-C with the lock taken back. The core polls this module's
// core::interrupt_requested, which reads the call's stop flag and nothing
// else, and unwinds with Interrupted; the caller then raises the signal
// handler's exception (KeyboardInterrupt). A core that changes an object
// commits only once it has finished, so an interrupted call changes nothing.
#pragma once

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include <nanobind/nanobind.h>

namespace core::arrays {

namespace nb = nanobind;

enum class Length {
    kShort,  // runs on the calling thread (still without the lock)
    kLong,   // runs on a thread of its own, the caller watching for Ctrl-C
    // Runs on the calling thread for a few milliseconds; work that takes
    // longer is stopped and made again as kLong, so it must leave everything
    // as it was when stopped. Spares a short call the handover.
    kUnknown,
};

// Runs fn(context) as described above (a core that splits its work uses
// `workers` threads, the shared pool for 0) and raises what it threw as
// _core raises it: ValueError, RuntimeError, MemoryError,
// KeyboardInterrupt. Called with the lock held.
void run_core_call(Length length, int workers, void (*fn)(void*), void* context);

template <class F>
auto core_call(Length length, int workers, F&& f) {
    std::optional<decltype(f())> result;
    auto body = [&] { result.emplace(f()); };
    run_core_call(length, workers, [](void* c) { (*static_cast<decltype(body)*>(c))(); }, &body);
    return std::move(*result);
}

template <class F>
auto core_call(Length length, F&& f) {
    return core_call(length, 0, std::forward<F>(f));
}

// Raises what a core threw as _core raises it (ValueError, RuntimeError,
// MemoryError, KeyboardInterrupt). Called with the lock held.
[[noreturn]] void raise_core_error(std::exception_ptr error);

// A core call that cannot be stopped part-way (one decode, one library
// call) on a thread of its own that owns everything it reads.
struct DetachedJob {
    virtual ~DetachedJob() = default;
    virtual void run() noexcept = 0;
    // Called on the job's thread, without the lock, when the job finishes
    // after its caller left: what it holds of Python's is given back by a
    // pending call (Py_AddPendingCall), on the interpreter's own thread.
    virtual void orphaned() noexcept {}
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;  // the caller left before `done`
};
// Starts `job` and waits for it, looking for Ctrl-C: false (the signal
// handler's exception set) when one came first. Unless it had finished
// meanwhile the job is then abandoned: it finishes on its own and drops its
// result. Called with the lock held.
bool run_detached(const std::shared_ptr<DetachedJob>& job);

// fn() as above, its result given back only when the call was not stopped:
// a stopped call answers at once and changes nothing. `fn` must own (not
// refer to) everything it reads.
template <class F>
auto detached_call(F fn) {
    using Result = decltype(fn());
    struct Job : DetachedJob {
        explicit Job(F f) : fn(std::move(f)) {}
        void run() noexcept override {
            try {
                result.emplace(fn());
            } catch (...) {
                error = std::current_exception();
            }
        }
        F fn;
        std::optional<Result> result;
        std::exception_ptr error;
    };
    auto job = std::make_shared<Job>(std::move(fn));
    if (!run_detached(job)) throw nb::python_error();
    if (job->error) raise_core_error(job->error);
    return std::move(*job->result);
}

}  // namespace core::arrays
