#include "module/errors.hpp"

#include <cstdio>
#include <new>
#include <string>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace core::bind {

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
        g_panic_type = PyErr_NewExceptionWithDoc("_core.PanicException", kPanicDoc,
                                                 PyExc_BaseException, nullptr);
    }
    return g_panic_type;
}

void raise_panic(const char* text) noexcept {
    std::fprintf(stderr, "_core: internal fault: %s\n", text);
    PyObject* type = panic_type();
    if (type != nullptr) PyErr_SetString(type, text);
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
    PyObject* wrapped = message ? PyObject_CallOneArg(PyExc_TypeError, message) : nullptr;
    Py_XDECREF(message);
    if (wrapped == nullptr) {
        Py_DECREF(original);
        return;
    }
    if (PyObject* cause = PyException_GetCause(original)) PyException_SetCause(wrapped, cause);
    Py_DECREF(original);
    py::restore_exception(wrapped);
}

}  // namespace core::bind
