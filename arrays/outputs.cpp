#include "outputs.hpp"

namespace core::arrays {

nb::object numpy_empty(std::span<const std::size_t> shape, const char* dtype, void** data) {
    nb::list dims;
    for (std::size_t n : shape) dims.append(n);
    nb::object array =
        nb::module_::import_("numpy").attr("empty")(nb::tuple(dims), nb::arg("dtype") = dtype);
    Py_buffer view;
    if (PyObject_GetBuffer(array.ptr(), &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0)
        throw nb::python_error();
    *data = view.buf;  // owned by the array, which outlives the view
    PyBuffer_Release(&view);
    return array;
}

}  // namespace core::arrays
