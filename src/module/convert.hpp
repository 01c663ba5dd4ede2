// One conversion trait per native kind:
//   from_python<T>::convert(PyObject*, T&) -> bool   (false: Python error set)
//   to_python<T>::convert(const T&) -> PyObject*      (nullptr: Python error set)
// The heavy lifting of each kind is a non-template function in convert.cpp;
// the traits only pick it. Any class type without a trait of its own is a
// bound class, taken and returned by value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "module/errors.hpp"
#include "module/instance.hpp"

namespace core::bind {

// ---- Python -> native ------------------------------------------------------

bool read_f64_slow(PyObject* o, double& out) noexcept;
bool read_i32(PyObject* o, int32_t& out) noexcept;
bool read_u32(PyObject* o, uint32_t& out) noexcept;
bool read_u64(PyObject* o, uint64_t& out) noexcept;
bool read_bytes_view(PyObject* o, std::span<const uint8_t>& out) noexcept;
bool read_byte_list(PyObject* o, std::vector<uint8_t>& out) noexcept;
bool read_instance(PyObject* o, PyTypeObject* type, const char* name) noexcept;

// Shared by every list kind: refuses `str` and non-sequences, then gives the
// number of elements worth reserving (a hint, capped unless the size is exact).
bool read_sequence_start(PyObject* o) noexcept;
Py_ssize_t sequence_size_hint(PyObject* o) noexcept;

inline bool read_f64(PyObject* o, double& out) noexcept {
    if (PyFloat_CheckExact(o)) {
        out = PyFloat_AS_DOUBLE(o);
        return true;
    }
    return read_f64_slow(o, out);
}

template <class T, class = void>
struct from_python {
    // A bound class by value: an instance of exactly that class, copied under
    // a momentary shared borrow.
    static bool convert(PyObject* o, T& out) noexcept {
        if (!read_instance(o, ClassInfo<T>::type, ClassInfo<T>::name)) return false;
        out = as_instance<T>(o)->value;
        return true;
    }
};

template <>
struct from_python<double> {
    static bool convert(PyObject* o, double& out) noexcept { return read_f64(o, out); }
};

template <>
struct from_python<float> {
    static bool convert(PyObject* o, float& out) noexcept {
        double d;
        if (!read_f64(o, d)) return false;
        out = static_cast<float>(d);
        return true;
    }
};

template <>
struct from_python<int32_t> {
    static bool convert(PyObject* o, int32_t& out) noexcept { return read_i32(o, out); }
};

template <>
struct from_python<uint32_t> {
    static bool convert(PyObject* o, uint32_t& out) noexcept { return read_u32(o, out); }
};

template <>
struct from_python<uint64_t> {
    static bool convert(PyObject* o, uint64_t& out) noexcept { return read_u64(o, out); }
};

template <>
struct from_python<std::span<const uint8_t>> {
    static bool convert(PyObject* o, std::span<const uint8_t>& out) noexcept {
        return read_bytes_view(o, out);
    }
};

template <>
struct from_python<std::vector<uint8_t>> {
    static bool convert(PyObject* o, std::vector<uint8_t>& out) noexcept {
        return read_byte_list(o, out);
    }
};

// ---- native -> Python ------------------------------------------------------

PyObject* byte_list(const uint8_t* data, std::size_t n) noexcept;
PyObject* text(std::string_view s) noexcept;
// A result object the interpreter failed to create becomes a panic.
inline PyObject* checked(PyObject* result) noexcept {
    if (result != nullptr) [[likely]] return result;
    return api_failed();
}

template <class T, class = void>
struct to_python {
    // A bound class: a new instance holding the value.
    static PyObject* convert(const T& v) noexcept { return new_instance<T>(v); }
};

template <>
struct to_python<bool> {
    static PyObject* convert(bool v) noexcept { return Py_NewRef(v ? Py_True : Py_False); }
};

template <class T>
struct to_python<T, std::enable_if_t<std::is_floating_point_v<T>>> {
    static PyObject* convert(T v) noexcept {
        return checked(PyFloat_FromDouble(static_cast<double>(v)));
    }
};

template <class T>
struct to_python<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
    static PyObject* convert(T v) noexcept {
        if constexpr (std::is_signed_v<T>) return checked(PyLong_FromLongLong(v));
        else return checked(PyLong_FromUnsignedLongLong(v));
    }
};

template <>
struct to_python<std::string> {
    static PyObject* convert(const std::string& v) noexcept { return text(v); }
};

template <class T>
struct to_python<std::optional<T>> {
    static PyObject* convert(const std::optional<T>& v) noexcept {
        if (!v) Py_RETURN_NONE;
        return to_python<T>::convert(*v);
    }
};

// A pointer result is an optional borrowed view: nullptr is None.
template <class T>
struct to_python<const T*> {
    static PyObject* convert(const T* v) noexcept {
        if (v == nullptr) Py_RETURN_NONE;
        return to_python<T>::convert(*v);
    }
};

template <class... T>
struct to_python<std::tuple<T...>> {
    static PyObject* convert(const std::tuple<T...>& v) noexcept {
        PyObject* t = checked(PyTuple_New(sizeof...(T)));
        if (t == nullptr) return nullptr;
        bool ok = std::apply(
            [t](const T&... item) {
                Py_ssize_t i = 0;
                return ((fill(t, i++, to_python<T>::convert(item))) && ...);
            },
            v);
        if (!ok) Py_CLEAR(t);
        return t;
    }
    static bool fill(PyObject* t, Py_ssize_t i, PyObject* item) noexcept {
        if (item == nullptr) return false;
        PyTuple_SET_ITEM(t, i, item);
        return true;
    }
};

// A fixed-size array is a tuple.
template <class T, std::size_t N>
struct to_python<std::array<T, N>> {
    static PyObject* convert(const std::array<T, N>& v) noexcept {
        PyObject* t = checked(PyTuple_New(N));
        if (t == nullptr) return nullptr;
        for (std::size_t i = 0; i < N; ++i) {
            PyObject* item = to_python<T>::convert(v[i]);
            if (item == nullptr) {
                Py_DECREF(t);
                return nullptr;
            }
            PyTuple_SET_ITEM(t, i, item);
        }
        return t;
    }
};

// A span or vector is a list; bytes become a list of ints.
template <class T>
struct to_python<std::span<const T>> {
    static PyObject* convert(std::span<const T> v) noexcept {
        if constexpr (std::is_same_v<T, uint8_t>) {
            return byte_list(v.data(), v.size());
        } else {
            PyObject* list = checked(PyList_New(static_cast<Py_ssize_t>(v.size())));
            if (list == nullptr) return nullptr;
            for (std::size_t i = 0; i < v.size(); ++i) {
                PyObject* item = to_python<T>::convert(v[i]);
                if (item == nullptr) {
                    Py_DECREF(list);
                    return nullptr;
                }
                PyList_SET_ITEM(list, i, item);
            }
            return list;
        }
    }
};

template <class T>
struct to_python<std::vector<T>> {
    static PyObject* convert(const std::vector<T>& v) noexcept {
        return to_python<std::span<const T>>::convert(std::span<const T>(v));
    }
};

}  // namespace core::bind
