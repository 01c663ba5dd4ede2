#include "scalars.hpp"

#include <climits>
#include <string>

#include "module/refusals.hpp"

namespace core::arrays {

void raise_for_argument(const char* arg) {
    for (PyObject* kind : {PyExc_TypeError, PyExc_ValueError, PyExc_OverflowError})
        py::prefix_argument_error(arg, kind);
    throw nb::python_error();
}

float float_arg(nb::handle o, const char* arg) {
    double d;
    if (!py::read_f64_slow(o.ptr(), d)) raise_for_argument(arg);
    return static_cast<float>(d);
}

std::int32_t int32_arg(nb::handle o, const char* arg) {
    std::int32_t v;
    if (!py::read_i32(o.ptr(), v)) raise_for_argument(arg);
    return v;
}

long index_arg(nb::handle o, const char* arg, long least, long most, const char* what) {
    PyObject* index = PyNumber_Index(o.ptr());
    if (index == nullptr) raise_for_argument(arg);
    int overflow = 0;
    const long v = PyLong_AsLongAndOverflow(index, &overflow);
    if (overflow == 0 && v >= least && v <= most) {
        Py_DECREF(index);
        return v;
    }
    PyErr_Clear();
    PyObject* text = PyObject_Repr(index);
    Py_DECREF(index);
    if (text == nullptr) raise_for_argument(arg);
    PyErr_Format(PyExc_ValueError, "argument '%s': expected %s, got %U", arg, what, text);
    Py_DECREF(text);
    throw nb::python_error();
}

std::uint32_t handle_of(Integer v, const char* arg) {
    // PyLong_AsLong first (the interpreter's error beyond a C long), then
    // the 32-bit range.
    if (!v.negative && v.bits > static_cast<std::uint64_t>(LONG_MAX)) {
        PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C long");
        raise_for_argument(arg);
    }
    const long value = static_cast<long>(v.bits);
    if (!py::fits_u32(value)) {
        py::raise_out_of_range();
        raise_for_argument(arg);
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace core::arrays
