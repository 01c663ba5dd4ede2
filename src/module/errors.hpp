// Raising Python exceptions from the binding layer: the messages every
// function shares, the internal-fault exception and the translation of C++
// exceptions at the boundary.
#pragma once

#include "module/python.hpp"

namespace core::bind {

// The internal-fault exception class, created on first use.
PyObject* panic_type() noexcept;

// Raises PanicException with `text`, after writing the text to stderr.
void raise_panic(const char* text) noexcept;

// For a result object the interpreter failed to create: prints the pending
// error and raises PanicException "Python API call failed". Returns nullptr.
PyObject* api_failed() noexcept;

// Call inside `catch (...)`: sets the Python exception for the C++ exception
// in flight (ValueError, RuntimeError, MemoryError, else PanicException).
void raise_from_cpp_exception() noexcept;

// TypeError "'{type}' object cannot be converted to '{target}'".
void raise_cannot_convert(PyObject* value, const char* target) noexcept;

// OverflowError "out of range integral type conversion attempted".
void raise_out_of_range() noexcept;

// Raises `type(message)` with `cause` as its __cause__ (both stolen; a null
// message leaves the error of its creation pending, a null cause is none).
void raise_with_cause(PyObject* type, PyObject* message, PyObject* cause) noexcept;

// When the pending error is a TypeError, replaces it by
// TypeError "argument '{name}': {message}" keeping its cause.
void prefix_argument_error(const char* name) noexcept;

}  // namespace core::bind
