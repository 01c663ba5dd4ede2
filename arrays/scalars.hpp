// Scalar arguments converted as _core converts them (module/refusals.hpp),
// each refusal naming the argument: TypeError, ValueError and
// OverflowError alike carry "argument 'name': ".
#pragma once

#include <cstdint>

#include <nanobind/nanobind.h>

#include "inputs.hpp"

namespace core::arrays {

namespace nb = nanobind;

// A Python float (or anything with __float__) narrowed to float32.
float float_arg(nb::handle o, const char* arg);
// An int within int32 (a tile coordinate).
std::int32_t int32_arg(nb::handle o, const char* arg);
// An int (or anything with __index__) from `least` to `most`; else
// ValueError "argument 'arg': expected <what>, got <value>".
long index_arg(nb::handle o, const char* arg, long least, long most, const char* what);

// Raises the pending error with the argument's name before its text.
[[noreturn]] void raise_for_argument(const char* arg);

// An element of an integer array as _core converts the same Python int to
// a handle (unsigned 32-bit): OverflowError naming `arg` outside it.
std::uint32_t handle_of(Integer v, const char* arg);

}  // namespace core::arrays
