#include "outputs.hpp"

#include <cstring>

namespace core::arrays {

namespace {

// numpy.empty and the dtypes asked for, looked up once and kept for good: a
// call of a few points would otherwise spend most of its time finding them.
// Set with the lock held; under a free-threaded interpreter two first calls
// may both look them up, and one reference is then kept twice.
PyObject* g_empty = nullptr;
struct Dtype {
    const char* name;
    PyObject* dtype;
};
Dtype g_dtypes[8] = {};

PyObject* dtype_named(const char* name) {
    for (const Dtype& d : g_dtypes) {
        if (d.name != nullptr && (d.name == name || std::strcmp(d.name, name) == 0)) return d.dtype;
    }
    nb::object numpy = nb::module_::import_("numpy");
    if (g_empty == nullptr) g_empty = nb::object(numpy.attr("empty")).release().ptr();
    PyObject* dtype = numpy.attr("dtype")(name).release().ptr();
    for (Dtype& d : g_dtypes) {
        if (d.name == nullptr) {
            d = {name, dtype};
            break;
        }
    }
    return dtype;
}

}  // namespace

nb::object numpy_empty(std::initializer_list<std::size_t> shape, const char* dtype, void** data) {
    PyObject* type = dtype_named(dtype);
    nb::object dims = nb::steal(PyTuple_New(static_cast<Py_ssize_t>(shape.size())));
    if (!dims.is_valid()) throw nb::python_error();
    Py_ssize_t k = 0;
    for (std::size_t n : shape) {
        PyObject* item = PyLong_FromSize_t(n);
        if (item == nullptr) throw nb::python_error();
        PyTuple_SET_ITEM(dims.ptr(), k++, item);
    }
    PyObject* args[3] = {nullptr, dims.ptr(), type};
    nb::object array = nb::steal(
        PyObject_Vectorcall(g_empty, args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!array.is_valid()) throw nb::python_error();
    // numpy's array object starts with its data pointer, right after the
    // object header: read there once the buffer protocol has agreed with it
    // (the protocol's export costs more than a small call's work).
    static int g_data_field = 0;  // 0: not known yet, 1: agrees, -1: use the protocol
    void* raw = *reinterpret_cast<void**>(reinterpret_cast<char*>(array.ptr()) + sizeof(PyObject));
    if (g_data_field == 1) {
        *data = raw;
        return array;
    }
    Py_buffer view;
    if (PyObject_GetBuffer(array.ptr(), &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0)
        throw nb::python_error();
    if (g_data_field == 0 && view.len > 0) g_data_field = view.buf == raw ? 1 : -1;
    *data = view.buf;  // owned by the array, which outlives the view
    PyBuffer_Release(&view);
    return array;
}

}  // namespace core::arrays
