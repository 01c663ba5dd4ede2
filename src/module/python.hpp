// The one place that includes Python.h, plus the small shims that hide the
// differences between the interpreter versions we build for (3.11 to 3.13).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace core::py {

// Owns one reference (or none) for a scope.
class Ref {
public:
    explicit Ref(PyObject* o) noexcept : o_(o) {}
    ~Ref() { Py_XDECREF(o_); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    PyObject* get() const noexcept { return o_; }
    explicit operator bool() const noexcept { return o_ != nullptr; }

private:
    PyObject* o_;
};

// Takes the pending exception (new reference, or nullptr when none is set).
inline PyObject* take_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb != nullptr) PyException_SetTraceback(value, tb);
    Py_DECREF(type);
    Py_XDECREF(tb);
    return value;
#endif
}

// Makes `exc` (a reference that is stolen) the pending exception.
inline void restore_exception(PyObject* exc) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
    Py_INCREF(type);
    PyErr_Restore(type, exc, PyException_GetTraceback(exc));
#endif
}

// The value of an exact `int` small enough to sit in one internal digit, read
// without a call; false for anything else (which then takes the general path).
inline bool small_int_value(PyObject* o, long& out) noexcept {
    if (!PyLong_CheckExact(o)) return false;
    auto* v = reinterpret_cast<PyLongObject*>(o);
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Long_IsCompact(v)) return false;
    out = static_cast<long>(PyUnstable_Long_CompactValue(v));
#else
    const Py_ssize_t size = Py_SIZE(o);
    if (size < -1 || size > 1) return false;
    out = size == 0 ? 0 : static_cast<long>(size) * static_cast<long>(v->ob_digit[0]);
#endif
    return true;
}

}  // namespace core::py
