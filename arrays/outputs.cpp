#include "outputs.hpp"

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "inputs.hpp"

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

nb::object numpy_empty(std::span<const std::size_t> shape, const char* dtype, void** data) {
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

namespace core::arrays {
namespace {

[[noreturn]] void refuse_out(PyObject* type, const std::string& what) {
    const std::string message = "argument 'out': " + what;
    PyErr_SetString(type, message.c_str());
    throw nb::python_error();
}

std::string shape_text(const Py_ssize_t* shape, std::size_t ndim) {
    std::string text = "(";
    for (std::size_t k = 0; k < ndim; ++k) {
        if (k > 0) text += ", ";
        text += std::to_string(shape[k]);
    }
    return text + (ndim == 1 ? ",)" : ")");
}

// The struct-module letter of a native element of numpy type `dtype`, with
// its size: what a buffer of that dtype reports.
bool same_dtype(const char* format, std::size_t itemsize, const char* dtype, std::size_t size) {
    if (itemsize != size) return false;
    const bool little = std::endian::native == std::endian::little;
    if (*format == '@' || *format == '=' || (*format == '<' && little)) ++format;
    const std::string f = format;
    const std::string d = dtype;
    if (d == "float32") return f == "f";
    if (d == "bool") return f == "?";
    if (d == "uint8") return f == "B";
    if (d == "uint32") return f == "I" || (f == "L" && size == sizeof(unsigned long));
    if (d == "int64") return f == "q" || (f == "l" && size == sizeof(long));
    return false;
}

// [first byte, one past the last byte] of an array; empty when it holds
// no element.
struct Extent {
    std::uintptr_t lo = 0, hi = 0;
};

Extent extent_of(const void* data, std::size_t ndim, const std::size_t* shape,
                 const std::int64_t* strides, std::size_t itemsize) {
    auto lo = reinterpret_cast<std::intptr_t>(data), hi = lo;
    for (std::size_t k = 0; k < ndim; ++k) {
        if (shape[k] == 0) return {};
        const std::intptr_t span = static_cast<std::intptr_t>(shape[k] - 1) * strides[k];
        (span < 0 ? lo : hi) += span;
    }
    return {static_cast<std::uintptr_t>(lo), static_cast<std::uintptr_t>(hi) + itemsize};
}

}  // namespace

OutArray::OutArray(nb::handle out, std::span<const std::size_t> shape, const char* dtype,
                   std::size_t itemsize, std::span<const ArrayArg* const> inputs)
    : object_(out) {
    std::string want = std::string("a writable ") + dtype + " array";
    if (PyObject_GetBuffer(out.ptr(), &view_, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();
        refuse_out(PyExc_TypeError,
                   "expected " + want + ", got '" + Py_TYPE(out.ptr())->tp_name + "' object");
    }
    try {
        const char* format = view_.format != nullptr ? view_.format : "B";
        if (!same_dtype(format, static_cast<std::size_t>(view_.itemsize), dtype, itemsize)) {
            // numpy's name of the dtype where there is one, else the buffer's format
            std::string got = std::string("format '") + format + "'";
            PyObject* d = PyObject_GetAttrString(out.ptr(), "dtype");
            PyObject* name = d != nullptr ? PyObject_Str(d) : nullptr;
            const char* text = name != nullptr ? PyUnicode_AsUTF8(name) : nullptr;
            if (text != nullptr) got = std::string("dtype ") + text;
            Py_XDECREF(name);
            Py_XDECREF(d);
            PyErr_Clear();
            refuse_out(PyExc_TypeError, "expected " + want + ", got " + got);
        }
        const auto ndim = static_cast<std::size_t>(view_.ndim);
        bool same_shape = ndim == shape.size();
        for (std::size_t k = 0; same_shape && k < ndim; ++k)
            same_shape = static_cast<std::size_t>(view_.shape[k]) == shape[k];
        if (!same_shape) {
            std::vector<Py_ssize_t> wanted(shape.begin(), shape.end());
            refuse_out(PyExc_ValueError, "expected shape " +
                                             shape_text(wanted.data(), wanted.size()) + ", got " +
                                             shape_text(view_.shape, ndim));
        }
        if (view_.readonly)
            refuse_out(PyExc_ValueError, "expected " + want + ", got a read-only one");
        std::vector<std::int64_t> strides(ndim);
        std::int64_t packed = static_cast<std::int64_t>(itemsize);
        bool c_order = true;
        for (std::size_t k = ndim; k-- > 0;) {
            strides[k] = view_.strides[k];
            c_order = c_order && (shape[k] <= 1 || strides[k] == packed);
            packed *= static_cast<std::int64_t>(shape[k]);
        }
        const Extent mine = extent_of(view_.buf, ndim, shape.data(), strides.data(), itemsize);
        lo_ = mine.lo;
        hi_ = mine.hi;
        for (const ArrayArg* input : inputs) {
            std::vector<std::size_t> in_shape(input->ndim());
            std::vector<std::int64_t> in_strides(input->ndim());
            for (std::size_t k = 0; k < input->ndim(); ++k) {
                in_shape[k] = input->shape(k);
                in_strides[k] = input->stride(k);
            }
            const Extent theirs = extent_of(input->data(), input->ndim(), in_shape.data(),
                                            in_strides.data(), input->dtype().size);
            if (mine.lo < theirs.hi && theirs.lo < mine.hi)
                refuse_out(PyExc_ValueError, "overlaps an input; give an array of its own");
        }
        if (c_order) packed_ = view_.buf;
    } catch (...) {
        PyBuffer_Release(&view_);
        throw;
    }
}

OutArray::~OutArray() { PyBuffer_Release(&view_); }

void OutArray::copy_from(const void* items) const noexcept {
    const auto ndim = static_cast<std::size_t>(view_.ndim);
    std::size_t count = 1;
    for (std::size_t k = 0; k < ndim; ++k) count *= static_cast<std::size_t>(view_.shape[k]);
    if (count == 0) return;
    const auto* from = static_cast<const std::uint8_t*>(items);
    Py_ssize_t at[PyBUF_MAX_NDIM] = {};
    for (std::size_t i = 0; i < count; ++i) {
        auto* to = static_cast<std::uint8_t*>(view_.buf);
        for (std::size_t k = 0; k < ndim; ++k) to += at[k] * view_.strides[k];
        std::memcpy(to, from + i * view_.itemsize, static_cast<std::size_t>(view_.itemsize));
        for (std::size_t k = ndim; k-- > 0;) {
            if (++at[k] < view_.shape[k]) break;
            at[k] = 0;
        }
    }
}

std::array<nb::handle, 3> out_tuple(nb::handle o) {
    std::array<nb::handle, 3> outs{nb::none(), nb::none(), nb::none()};
    if (o.is_none()) return outs;
    if (!PyTuple_Check(o.ptr()) || PyTuple_GET_SIZE(o.ptr()) != 3)
        throw nb::type_error("argument 'out': expected None or a tuple of 3 arrays (or Nones)");
    for (int k = 0; k < 3; ++k) outs[k] = PyTuple_GET_ITEM(o.ptr(), k);
    return outs;
}

void refuse_shared(std::initializer_list<const OutArray*> outs) {
    for (auto a = outs.begin(); a != outs.end(); ++a)
        for (auto b = a + 1; b != outs.end(); ++b)
            if (*a != nullptr && *b != nullptr && (*a)->lo() < (*b)->hi() &&
                (*b)->lo() < (*a)->hi())
                refuse_out(PyExc_ValueError, "its arrays overlap; give each an array of its own");
}

}  // namespace core::arrays
