// The one place that includes Python.h, plus the small shims that hide the
// differences between the interpreter versions we build for (3.11 to 3.13).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace core::py {

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

}  // namespace core::py
