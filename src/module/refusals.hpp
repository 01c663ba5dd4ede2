// The refusals both native modules raise the same way: a value of the wrong
// class, an integer outside its C type, the argument prefix of a TypeError,
// a number read as _core reads it, and the Python exception for a C++ one.
// Inline, so each module compiles the one text of each rule.
#pragma once

#include <climits>
#include <cstdint>
#include <exception>
#include <new>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "module/python.hpp"

namespace core::py {

inline constexpr const char* kOutOfRange = "out of range integral type conversion attempted";

// TypeError "'{type}' object cannot be converted to '{target}'".
inline void raise_cannot_convert(PyObject* value, const char* target) noexcept {
    PyObject* qualname = PyType_GetQualName(Py_TYPE(value));
    if (qualname == nullptr) return;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname, target);
    Py_DECREF(qualname);
}

// OverflowError "out of range integral type conversion attempted".
inline void raise_out_of_range() noexcept { PyErr_SetString(PyExc_OverflowError, kOutOfRange); }

// Raises `type(message)` with `cause` as its __cause__ (both stolen; a null
// message leaves the error of its creation pending, a null cause is none).
inline void raise_with_cause(PyObject* type, PyObject* message, PyObject* cause) noexcept {
    PyObject* error = message ? PyObject_CallOneArg(type, message) : nullptr;
    Py_XDECREF(message);
    if (error == nullptr) {
        Py_XDECREF(cause);
        return;
    }
    if (cause != nullptr) PyException_SetCause(error, cause);
    py::restore_exception(error);
}

// Replaces the pending error of class `kind` (a TypeError in _core) by
// `kind("argument '{name}': {message}")`, keeping its cause.
inline void prefix_argument_error(const char* name, PyObject* kind = PyExc_TypeError) noexcept {
    if (!PyErr_ExceptionMatches(kind)) return;
    PyObject* original = py::take_exception();
    PyObject* text = PyObject_Str(original);
    if (text == nullptr) {
        Py_DECREF(original);
        return;
    }
    PyObject* message = PyUnicode_FromFormat("argument '%s': %U", name, text);
    Py_DECREF(text);
    PyObject* cause = PyException_GetCause(original);
    Py_DECREF(original);
    raise_with_cause(kind, message, cause);
}

// ---- numbers, as the interpreter gives them ---------------------------------

inline bool read_f64_slow(PyObject* o, double& out) noexcept {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

inline bool read_c_long(PyObject* o, long& out) noexcept {
    long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

// Whether a C long fits the 32-bit kinds (else kOutOfRange).
inline bool fits_i32(long v) noexcept { return v >= INT32_MIN && v <= INT32_MAX; }
inline bool fits_u32(long v) noexcept { return v >= 0 && v <= static_cast<long>(UINT32_MAX); }

inline bool read_i32(PyObject* o, int32_t& out) noexcept {
    long v;
    if (!read_c_long(o, v)) return false;
    if (!fits_i32(v)) {
        raise_out_of_range();
        return false;
    }
    out = static_cast<int32_t>(v);
    return true;
}

inline bool read_u32(PyObject* o, uint32_t& out) noexcept {
    long v;
    if (!read_c_long(o, v)) return false;
    if (!fits_u32(v)) {
        raise_out_of_range();
        return false;
    }
    out = static_cast<uint32_t>(v);
    return true;
}

// ---- C++ exceptions ---------------------------------------------------------

// Call inside `catch (...)`: sets the Python exception for the C++ exception
// in flight. An interrupt keeps the signal handler's exception (normally
// KeyboardInterrupt), then ValueError, RuntimeError, MemoryError; anything
// else is an internal fault, which `fault` raises with its text.
inline void raise_current_exception(void (*fault)(const char* text) noexcept) noexcept {
    try {
        throw;
    } catch (const core::Interrupted&) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const core::ValueError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const core::RuntimeError& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        fault(e.what());
    } catch (...) {
        fault("unknown internal fault");
    }
}

}  // namespace core::py
