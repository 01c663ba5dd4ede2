#include "module/convert.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace core::py {

bool read_u64(PyObject* o, uint64_t& out) noexcept {
    unsigned long long v;
    if (PyLong_Check(o)) {
        v = PyLong_AsUnsignedLongLong(o);
    } else {
        PyObject* index = PyNumber_Index(o);
        if (index == nullptr) return false;
        v = PyLong_AsUnsignedLongLong(index);
        Py_DECREF(index);
    }
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool read_bytes_view(PyObject* o, std::span<const uint8_t>& out) noexcept {
    if (!PyBytes_Check(o)) {
        raise_cannot_convert(o, "PyBytes");
        return false;
    }
    out = {reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(o)),
           static_cast<std::size_t>(PyBytes_GET_SIZE(o))};
    return true;
}

namespace {

// A sequence's reported length only sizes the first reservation; a length
// that lies cannot make us allocate more than this up front.
constexpr Py_ssize_t kMaxReserveHint = 1 << 16;

bool read_byte(PyObject* item, uint8_t& out) noexcept {
    int32_t v;
    if (!read_i32(item, v)) return false;
    if (v < 0 || v > 255) {
        raise_out_of_range();
        return false;
    }
    out = static_cast<uint8_t>(v);
    return true;
}

bool push_byte(void* out, PyObject* item) {
    uint8_t b;
    if (!read_byte(item, b)) return false;
    static_cast<std::vector<uint8_t>*>(out)->push_back(b);
    return true;
}

void reserve_bytes(void* out, std::size_t n) {
    static_cast<std::vector<uint8_t>*>(out)->reserve(n);
}

// The common case of a list or tuple of exact ints 0..255: no conversion
// runs Python code, so the items are read in one tight pass up to the first
// item that needs the general path.
Py_ssize_t read_small_ints(PyObject* const* items, Py_ssize_t n, uint8_t* dst) noexcept {
    Py_ssize_t i = 0;
    for (long v; i < n; ++i) {
        if (!py::small_int_value(items[i], v) || v < 0 || v > 255) break;
        dst[i] = static_cast<uint8_t>(v);
    }
    return i;
}

}  // namespace

// The type names in the conversion errors ("PyString", "PyTuple", "PyBytes",
// "Sequence") and the `str` refusal below read like another language's
// internals, but they are the module's published messages: callers match
// them, so they stay exactly as they are.
bool read_sequence_start(PyObject* o) noexcept {
    if (PyUnicode_Check(o)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(o)) {
        raise_cannot_convert(o, "Sequence");
        return false;
    }
    return true;
}

Py_ssize_t sequence_size_hint(PyObject* o) noexcept {
    if (PyList_CheckExact(o)) return PyList_GET_SIZE(o);
    if (PyTuple_CheckExact(o)) return PyTuple_GET_SIZE(o);
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) {
        PyErr_Clear();
        return 0;
    }
    return std::min(n, kMaxReserveHint);
}

bool read_byte_list(PyObject* o, std::vector<uint8_t>& out) noexcept {
    try {
        if (PyBytes_CheckExact(o)) {
            auto* p = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(o));
            out.assign(p, p + PyBytes_GET_SIZE(o));
            return true;
        }
        if (PyByteArray_CheckExact(o)) {
            auto* p = reinterpret_cast<const uint8_t*>(PyByteArray_AS_STRING(o));
            out.assign(p, p + PyByteArray_GET_SIZE(o));
            return true;
        }
    } catch (...) {
        raise_from_cpp_exception();
        return false;
    }
    out.clear();
    return read_list(o, ListSink{&out, &reserve_bytes, &push_byte,
                                 &bulk_read<uint8_t, uint8_t, &read_small_ints>});
}

bool read_text(PyObject* o, std::string_view& out) noexcept {
    if (!PyUnicode_Check(o)) {
        raise_cannot_convert(o, "PyString");
        return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(o, &size);  // cached on the str
    if (data == nullptr) return false;                     // lone surrogates
    out = {data, static_cast<std::size_t>(size)};
    return true;
}

PyObject* const* read_tuple_items(PyObject* o, Py_ssize_t n) noexcept {
    if (!PyTuple_Check(o)) {
        raise_cannot_convert(o, "PyTuple");
        return nullptr;
    }
    if (PyTuple_GET_SIZE(o) != n) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd",
                     n, PyTuple_GET_SIZE(o));
        return nullptr;
    }
    return &PyTuple_GET_ITEM(o, 0);
}

namespace {

// Converts one element that the caller does not own: its conversion may run
// Python code that drops the container's reference to it.
bool read_held(const ListSink& sink, PyObject* item) {
    py::Ref hold(Py_NewRef(item));
    return sink.read(sink.out, item);
}

// A list of millions of items takes about a second to convert, so Ctrl-C is
// checked once per kPollItems of them: false when a signal's handler raised.
inline bool signal_raised(Py_ssize_t i) noexcept {
    return i % static_cast<Py_ssize_t>(kPollItems) == 0 && i != 0 && PyErr_CheckSignals() < 0;
}

// A list's size is read again each step, as the list iterator would, in
// case an element's conversion (or a signal handler) resized it. The bulk
// step runs in slices, each of which runs no Python code.
bool read_list_items(PyObject* o, const ListSink& sink) {
    const bool is_list = PyList_CheckExact(o);
    auto size = [&] { return is_list ? PyList_GET_SIZE(o) : PyTuple_GET_SIZE(o); };
    constexpr auto kSlice = static_cast<Py_ssize_t>(kPollItems);
    Py_ssize_t i = 0;
    while (sink.bulk != nullptr && i < size()) {
        if (signal_raised(i)) return false;
        const Py_ssize_t n = std::min(size() - i, kSlice - i % kSlice);
        const Py_ssize_t done = sink.bulk(sink.out, PySequence_Fast_ITEMS(o) + i, n);
        i += done;
        if (done < n) break;
    }
    for (; i < size(); ++i) {
        if (signal_raised(i)) return false;
        PyObject* item = is_list ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i);
        if (!read_held(sink, item)) return false;
    }
    return true;
}

bool read_iterated(PyObject* o, const ListSink& sink) {
    py::Ref it(PyObject_GetIter(o));
    if (!it) return false;
    for (Py_ssize_t i = 1; PyObject* next = PyIter_Next(it.get()); ++i) {
        py::Ref item(next);
        if (!sink.read(sink.out, next) || signal_raised(i)) return false;
    }
    return !PyErr_Occurred();
}

inline bool exact_float(PyObject* o, float& out) noexcept {
    if (!PyFloat_CheckExact(o)) return false;
    out = static_cast<float>(PyFloat_AS_DOUBLE(o));
    return true;
}

}  // namespace

bool read_list(PyObject* o, const ListSink& sink) noexcept {
    if (!read_sequence_start(o)) return false;
    try {
        sink.reserve(sink.out, static_cast<std::size_t>(sequence_size_hint(o)));
        if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) return read_list_items(o, sink);
        return read_iterated(o, sink);
    } catch (...) {
        raise_from_cpp_exception();
        return false;
    }
}

Py_ssize_t read_exact_floats(PyObject* const* items, Py_ssize_t n, float* dst) noexcept {
    Py_ssize_t i = 0;
    while (i < n && exact_float(items[i], dst[i])) ++i;
    return i;
}

Py_ssize_t read_exact_float_pairs(PyObject* const* items, Py_ssize_t n, float* dst) noexcept {
    Py_ssize_t i = 0;
    for (; i < n; ++i) {
        PyObject* t = items[i];
        if (!PyTuple_CheckExact(t) || PyTuple_GET_SIZE(t) != 2) break;
        if (!exact_float(PyTuple_GET_ITEM(t, 0), dst[2 * i]) ||
            !exact_float(PyTuple_GET_ITEM(t, 1), dst[2 * i + 1])) {
            break;
        }
    }
    return i;
}

bool dict_set_stolen(PyObject* dict, PyObject* key, PyObject* value) noexcept {
    bool ok = key != nullptr && value != nullptr;
    if (ok && PyDict_SetItem(dict, key, value) < 0) {
        api_failed();
        ok = false;
    }
    Py_XDECREF(key);
    Py_XDECREF(value);
    return ok;
}

bool read_instance(PyObject* o, PyTypeObject* type, const char* name) noexcept {
    if (type == nullptr) [[unlikely]] {
        raise_panic("a parameter's class is not registered");
        return false;
    }
    if (Py_TYPE(o) != type) {
        raise_cannot_convert(o, name);
        return false;
    }
    // The copy happens at once, so a shared borrow only has to be possible.
    if (can_copy(borrow_of(o)) != nullptr) return raise_already_mutably_borrowed();
    return true;
}

PyObject* text(std::string_view s) noexcept {
    return checked(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

PyObject* byte_list(const uint8_t* data, std::size_t n) noexcept {
    // Ints 0..255 are the interpreter's cached small ints; keep our own table
    // of them so that each element costs one reference increment.
    static PyObject* table[256] = {};
    if (table[255] == nullptr) {
        for (int i = 0; i < 256; ++i) {
            table[i] = PyLong_FromLong(i);
            if (table[i] == nullptr) return api_failed();
        }
    }
    PyObject* list = checked(PyList_New(static_cast<Py_ssize_t>(n)));
    if (list == nullptr) return nullptr;
    PyObject** items = reinterpret_cast<PyListObject*>(list)->ob_item;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* v = table[data[i]];
        Py_INCREF(v);
        items[i] = v;
    }
    return list;
}

}  // namespace core::py
