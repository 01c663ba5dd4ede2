#include "module/raise.hpp"

#include <cstdio>
#include <string>

#include "module/borrow.hpp"

namespace core::py {

namespace {
PyObject* g_panic_type = nullptr;

constexpr const char* kPanicDoc =
    "Raised when the native module hits an internal fault.\n\n"
    "It derives from BaseException, like SystemExit, so that ordinary\n"
    "`except Exception` handlers do not catch it and it normally propagates\n"
    "to the top of the program.";
}  // namespace

PyObject* panic_type() noexcept {
    if (g_panic_type == nullptr) {
        // The class is made with no error pending, as the interpreter expects;
        // one that was pending is put back untouched.
        PyObject* pending = py::take_exception();
        g_panic_type = PyErr_NewExceptionWithDoc("_core.PanicException", kPanicDoc,
                                                 PyExc_BaseException, nullptr);
        if (pending != nullptr) {
            if (g_panic_type == nullptr) PyErr_Clear();
            py::restore_exception(pending);
        }
    }
    return g_panic_type;
}

void raise_panic(const char* text) noexcept {
    std::fprintf(stderr, "_core: internal fault: %s\n", text);
    PyErr_Clear();  // superseded by the fault
    if (PyObject* type = panic_type()) {
        PyErr_SetString(type, text);
        return;
    }
    // Without the class (the interpreter is out of memory) the fault is
    // still reported: as SystemError, caused by the failed creation.
    PyObject* cause = py::take_exception();
    raise_with_cause(PyExc_SystemError, PyUnicode_FromFormat("internal fault: %s", text), cause);
    if (!PyErr_Occurred()) PyErr_NoMemory();
}

PyObject* api_failed() noexcept {
    if (PyErr_Occurred()) PyErr_Print();
    raise_panic("Python API call failed");
    return nullptr;
}

void raise_from_cpp_exception() noexcept { raise_current_exception(&raise_panic); }

bool raise_already_mutably_borrowed() noexcept {
    PyErr_SetString(PyExc_RuntimeError, kAlreadyMutablyBorrowed);
    return false;
}

bool raise_already_borrowed() noexcept {
    PyErr_SetString(PyExc_RuntimeError, kAlreadyBorrowed);
    return false;
}

bool raise_cannot_delete() noexcept {
    PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
    return false;
}

void raise_runtime_error_from(const std::string& message, PyObject* cause) noexcept {
    raise_with_cause(PyExc_RuntimeError,
                     PyUnicode_FromStringAndSize(message.data(), message.size()), cause);
}

}  // namespace core::py
