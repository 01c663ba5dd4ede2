// Raising Python exceptions from the binding layer: the messages every
// function shares, the internal-fault exception and the translation of C++
// exceptions at the boundary. The rules gfxcore's array module raises the
// same way are in refusals.hpp (and borrow.hpp), compiled into both.
#pragma once

#include <string>

#include "module/python.hpp"
#include "module/refusals.hpp"

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
// PanicException (raise_current_exception with raise_panic).
void raise_from_cpp_exception() noexcept;

// RuntimeError "Already mutably borrowed" / "Already borrowed": the texts
// callers match on when a receiver is in use. Both always return false.
bool raise_already_mutably_borrowed() noexcept;
bool raise_already_borrowed() noexcept;

// AttributeError "can't delete attribute"; always returns false.
bool raise_cannot_delete() noexcept;

// RuntimeError `message` caused by `cause` (stolen).
void raise_runtime_error_from(const std::string& message, PyObject* cause) noexcept;

}  // namespace core::py
