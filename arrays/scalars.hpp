// Scalar arguments converted as _core converts them, with its errors: a
// TypeError names the argument, a value outside the C type is an
// OverflowError.
#pragma once

#include <cstdint>

#include <nanobind/nanobind.h>

namespace core::arrays {

namespace nb = nanobind;

// A Python float (or anything with __float__) narrowed to float32.
float float_arg(nb::handle o, const char* arg);
// An int within int32 / uint32 (a handle).
std::int32_t int32_arg(nb::handle o, const char* arg);

// _core's OverflowError for an integer outside the C type it converts to.
[[noreturn]] void raise_out_of_range();
// _core's OverflowError for an integer outside the C long it reads first.
[[noreturn]] void raise_beyond_long();

}  // namespace core::arrays
