// gfxcore._arrays: whole arrays through the same C++ cores as _core, bit for
// bit the per-item calls.
//
// Adding a function (one group = one source file with register_<group>,
// declared in groups.hpp and called below):
//  - Inputs: take every argument as nb::handle, declared with .none(), and
//    convert it yourself, so a refusal names the argument (None included):
//    FloatRows (inputs.hpp) for (n, k) arrays of numbers, ArrayArg for
//    other arrays, ByteInput for bytes, scalars.hpp for numbers, handles
//    and indices. Check all arguments before changing anything.
//  - Rules shared with _core's binding layer (borrows, refusal texts, number
//    conversion, C++ exceptions) come from src/module's borrow.hpp and
//    refusals.hpp: never restate one here.
//  - _core objects: Held<T> (core_object.hpp) for a shared borrow (reading),
//    Held<T, true> for the exclusive one (changing), copy_of<T> for values
//    such as Mat4x4. Take it with the lock held, keep it across the work.
//  - Work: allocate results first (new_array<T>, outputs.hpp), then
//    parallel_for(n, grain, checked_workers(workers), body) (parallel.hpp):
//    it releases the lock, splits, polls Ctrl-C. The body is noexcept, never
//    calls Python, writes only its items' results. A call that changes an
//    object computes into scratch and commits after parallel_for returns,
//    so an interrupted call changes nothing.
//  - Core sources: the .cpp files from src/ a group needs go into
//    SHARED_CORE_SOURCES in CMakeLists.txt (compiled once, linked into
//    both modules). This module's own core::interrupt_requested (common/
//    interrupt.cpp) reads the stop flag of the call a thread works for and
//    never calls Python: a core call that runs as a whole (a step, a hull)
//    goes through core_call (core_call.hpp), which watches for Ctrl-C.
//  - Keyword `workers` (int | None, keyword-only, checked_workers) on every
//    function that splits.
//  - Stubs in python/gfxcore/_arrays.pyi (signatures as in nb::sig and
//    docstrings as here: a test compares), the name in python/gfxcore/
//    arrays.py's __all__.
//  - Tests: one seeded differential test against the per-item _core calls
//    per group (tests/test_arrays_<group>.py; hostile values, the layouts of
//    one input and a bitwise float32 comparison in tests/models/arrays.py).
#include <nanobind/nanobind.h>

#include "core_object.hpp"
#include "groups.hpp"
#include "stamp.hpp"

NB_MODULE(_arrays, m) {
    core::arrays::take_core_classes(core::arrays::checked_core());
    m.doc() = "Whole arrays through _core's C++ cores; see gfxcore.arrays.";
    core::arrays::register_sdf(m);
    core::arrays::register_transforms(m);
    core::arrays::register_points(m);
    core::arrays::register_physics(m);
    core::arrays::register_bytes(m);
    core::arrays::register_node_graphs(m);
}
