#include "scalars.hpp"

#include <climits>
#include <string>

namespace core::arrays {

namespace {

// The pending TypeError, prefixed with the argument's name.
[[noreturn]] void raise_argument_error(const char* arg) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        nb::str text = nb::steal<nb::str>(PyObject_Str(value));
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        const std::string message = std::string("argument '") + arg + "': " + text.c_str();
        throw nb::type_error(message.c_str());
    }
    throw nb::python_error();
}

}  // namespace

void raise_out_of_range() {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    throw nb::python_error();
}

void raise_beyond_long() {
    PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C long");
    throw nb::python_error();
}

float float_arg(nb::handle o, const char* arg) {
    const double d = PyFloat_AsDouble(o.ptr());
    if (d == -1.0 && PyErr_Occurred()) raise_argument_error(arg);
    return static_cast<float>(d);
}

std::int32_t int32_arg(nb::handle o, const char* arg) {
    const long v = PyLong_AsLong(o.ptr());
    if (v == -1 && PyErr_Occurred()) raise_argument_error(arg);
    if (v < INT32_MIN || v > INT32_MAX) raise_out_of_range();
    return static_cast<std::int32_t>(v);
}

}  // namespace core::arrays
