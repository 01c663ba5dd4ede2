// INTERIM: the text, list-of-(text, text) and dict kinds this unit needs,
// until the binding layer provides them; delete this header (and its
// includes) when they land.
#pragma once

#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "module/convert.hpp"

namespace core {

template <class K, class V>
struct Mapping {
    std::vector<std::pair<K, V>> items;
};

}  // namespace core

namespace core::bind {

inline bool read_text_interim(PyObject* o, std::string_view& out) noexcept {
    if (!PyUnicode_Check(o)) {
        raise_cannot_convert(o, "PyString");
        return false;
    }
    Py_ssize_t n;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (s == nullptr) return false;
    out = std::string_view(s, static_cast<std::size_t>(n));
    return true;
}

template <>
struct from_python<std::string_view> {
    static bool convert(PyObject* o, std::string_view& out) noexcept {
        return read_text_interim(o, out);
    }
};

template <>
struct from_python<std::vector<std::tuple<std::string, std::string>>> {
    static bool convert(PyObject* o, std::vector<std::tuple<std::string, std::string>>& out) noexcept {
        if (!read_sequence_start(o)) return false;
        PyObject* it = PyObject_GetIter(o);
        if (it == nullptr) return false;
        bool ok = true;
        try {
            out.reserve(static_cast<std::size_t>(sequence_size_hint(o)));
            while (PyObject* item = PyIter_Next(it)) {
                ok = read_pair(item, out);
                Py_DECREF(item);
                if (!ok) break;
            }
        } catch (...) {
            raise_from_cpp_exception();
            ok = false;
        }
        Py_DECREF(it);
        return ok && !PyErr_Occurred();
    }

    static bool read_pair(PyObject* item, std::vector<std::tuple<std::string, std::string>>& out) {
        if (!PyTuple_Check(item)) {
            raise_cannot_convert(item, "PyTuple");
            return false;
        }
        if (PyTuple_GET_SIZE(item) != 2) {
            PyErr_Format(PyExc_ValueError, "expected tuple of length 2, but got tuple of length %zd",
                         PyTuple_GET_SIZE(item));
            return false;
        }
        std::string_view a, b;
        if (!read_text_interim(PyTuple_GET_ITEM(item, 0), a) ||
            !read_text_interim(PyTuple_GET_ITEM(item, 1), b)) {
            return false;
        }
        out.emplace_back(std::string(a), std::string(b));
        return true;
    }
};

template <class K, class V>
struct to_python<Mapping<K, V>> {
    static PyObject* convert(const Mapping<K, V>& m) noexcept {
        PyObject* d = checked(PyDict_New());
        for (std::size_t i = 0; d != nullptr && i < m.items.size(); ++i) {
            PyObject* k = to_python<K>::convert(m.items[i].first);
            PyObject* v = k == nullptr ? nullptr : to_python<V>::convert(m.items[i].second);
            if (v == nullptr || PyDict_SetItem(d, k, v) < 0) Py_CLEAR(d);
            Py_XDECREF(k);
            Py_XDECREF(v);
        }
        return d;
    }
};

}  // namespace core::bind
