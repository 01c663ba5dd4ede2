// Raising Python exceptions from the binding layer: the messages every
// function shares, the internal-fault exception and the translation of C++
// exceptions at the boundary.
#pragma once

#include <string>

#include "module/python.hpp"

namespace core::py {

// The internal-fault exception class, created on first use.
PyObject* panic_type() noexcept;

// Raises PanicException with `text`, after writing the text to stderr.
void raise_panic(const char* text) noexcept;

// For a result object the interpreter failed to create: prints the pending
// error and raises PanicException "Python API call failed". Returns nullptr.
PyObject* api_failed() noexcept;

// Call inside `catch (...)`: sets the Python exception for the C++ exception
// in flight: an interrupt keeps the signal handler's exception (normally
// KeyboardInterrupt), then ValueError, RuntimeError, MemoryError, else
// PanicException.
void raise_from_cpp_exception() noexcept;

// TypeError "'{type}' object cannot be converted to '{target}'".
void raise_cannot_convert(PyObject* value, const char* target) noexcept;

// OverflowError "out of range integral type conversion attempted".
void raise_out_of_range() noexcept;

// RuntimeError "Already mutably borrowed" / "Already borrowed": the texts
// callers match on when a receiver is in use. Both always return false.
bool raise_already_mutably_borrowed() noexcept;
bool raise_already_borrowed() noexcept;

// AttributeError "can't delete attribute"; always returns false.
bool raise_cannot_delete() noexcept;

// Raises `type(message)` with `cause` as its __cause__ (both stolen; a null
// message leaves the error of its creation pending, a null cause is none).
void raise_with_cause(PyObject* type, PyObject* message, PyObject* cause) noexcept;

// RuntimeError `message` caused by `cause` (stolen).
void raise_runtime_error_from(const std::string& message, PyObject* cause) noexcept;

// When the pending error is a TypeError, replaces it by
// TypeError "argument '{name}': {message}" keeping its cause.
void prefix_argument_error(const char* name) noexcept;

}  // namespace core::py
