#include "module/raise.hpp"

#include <cstdio>
#include <new>
#include <string>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

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

void raise_from_cpp_exception() noexcept {
    try {
        throw;
    } catch (const core::Interrupted&) {
        // The signal handler's exception (KeyboardInterrupt) is already set.
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const core::ValueError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const core::RuntimeError& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_panic(e.what());
    } catch (...) {
        raise_panic("unknown internal fault");
    }
}

void raise_cannot_convert(PyObject* value, const char* target) noexcept {
    PyObject* qualname = PyType_GetQualName(Py_TYPE(value));
    if (qualname == nullptr) return;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname, target);
    Py_DECREF(qualname);
}

void raise_out_of_range() noexcept {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
}

void prefix_argument_error(const char* name) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
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
    raise_with_cause(PyExc_TypeError, message, cause);
}

bool raise_already_mutably_borrowed() noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    return false;
}

bool raise_already_borrowed() noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
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

void raise_with_cause(PyObject* type, PyObject* message, PyObject* cause) noexcept {
    PyObject* error = message ? PyObject_CallOneArg(type, message) : nullptr;
    Py_XDECREF(message);
    if (error == nullptr) {
        Py_XDECREF(cause);
        return;
    }
    if (cause != nullptr) PyException_SetCause(error, cause);
    py::restore_exception(error);
}

}  // namespace core::py
