// One call into a core that runs as a whole (a step, a hull): made without
// the interpreter lock on a thread of its own, while the calling thread
// looks for Ctrl-C with the lock taken back. The core polls this module's
// core::interrupt_requested, which reads the call's stop flag and nothing
// else, and unwinds with Interrupted; the caller then raises the signal
// handler's exception (KeyboardInterrupt). A core that changes an object
// commits only once it has finished, so an interrupted call changes nothing.
#pragma once

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

}  // namespace core::arrays
