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
#include <utility>
#include <vector>

#include "common/mapping.hpp"
#include "module/raise.hpp"
#include "module/instance.hpp"

namespace core::py {

// ---- Python -> native ------------------------------------------------------

bool read_u64(PyObject* o, uint64_t& out) noexcept;
bool read_bytes_view(PyObject* o, std::span<const uint8_t>& out) noexcept;
bool read_byte_list(PyObject* o, std::vector<uint8_t>& out) noexcept;
bool read_instance(PyObject* o, PyTypeObject* type, const char* name) noexcept;
bool read_text(PyObject* o, std::string_view& out) noexcept;

// The items of a tuple of exactly `n` elements, or nullptr with the error set.
PyObject* const* read_tuple_items(PyObject* o, Py_ssize_t n) noexcept;

// Every list kind is read by one walker; the element kind plugs in as a sink.
struct ListSink {
    void* out;                                  // the std::vector being filled
    void (*reserve)(void* out, std::size_t n);  // may throw
    bool (*read)(void* out, PyObject* item);    // converts one element; may throw
    // Optional: converts a leading run of items that need no Python code and
    // returns how many it took; the walker continues from there.
    Py_ssize_t (*bulk)(void* out, PyObject* const* items, Py_ssize_t n) = nullptr;
};
bool read_list(PyObject* o, const ListSink& sink) noexcept;

// A ListSink bulk step for a std::vector<T>: sizes the vector for all items,
// lets `Reader` write what it can (as plain Elem values) and trims to that.
template <class T, class Elem, Py_ssize_t (*Reader)(PyObject* const*, Py_ssize_t, Elem*) noexcept>
Py_ssize_t bulk_read(void* out, PyObject* const* items, Py_ssize_t n) {
    static_assert(sizeof(T) % sizeof(Elem) == 0);
    auto& v = *static_cast<std::vector<T>*>(out);
    const std::size_t base = v.size();
    v.resize(base + static_cast<std::size_t>(n));
    Py_ssize_t done = Reader(items, n, reinterpret_cast<Elem*>(v.data() + base));
    v.resize(base + static_cast<std::size_t>(done));
    return done;
}

// Bulk readers for the common element kinds: exact floats, and exact
// 2-tuples of exact floats. Each writes floats to `dst` and stops at the first
// item that needs the general path.
Py_ssize_t read_exact_floats(PyObject* const* items, Py_ssize_t n, float* dst) noexcept;
Py_ssize_t read_exact_float_pairs(PyObject* const* items, Py_ssize_t n, float* dst) noexcept;

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

// Only types without a trait of their own reach the primary templates, and
// of those only a class or enumeration of our own can be a bound class. A
// standard template (map, pair, unique_ptr, ...), a pointer or an integer
// width without a kind is refused at compile time rather than turned into a
// class lookup that fails at run time.
template <class T>
struct is_template_instance : std::false_type {};
template <template <class...> class C, class... A>
struct is_template_instance<C<A...>> : std::true_type {};

template <class T>
inline constexpr bool can_be_bound_class =
    (std::is_class_v<T> || std::is_enum_v<T>) && !is_template_instance<T>::value &&
    !std::is_const_v<T> && !std::is_volatile_v<T>;

template <class T, class = void>
struct from_python {
    static_assert(can_be_bound_class<T>,
                  "no conversion from Python for this C++ type: use one of the supported "
                  "kinds, or bind the type as a class");

    // A bound class by value: an instance of exactly that class, copied at
    // once, so no borrow is held; one held by a writer refuses the copy.
    static bool convert(PyObject* o, T& out) noexcept {
        if (!read_instance(o, ClassInfo<T>::type, ClassInfo<T>::name)) return false;
        try {
            out = as_instance<T>(o)->value;  // a copy may allocate
        } catch (...) {
            raise_from_cpp_exception();
            return false;
        }
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
struct from_python<std::string_view> {
    // A view of the str's own UTF-8 buffer: valid while the argument lives,
    // which is the whole call. Inside lists use std::string.
    static bool convert(PyObject* o, std::string_view& out) noexcept { return read_text(o, out); }
};

template <>
struct from_python<std::string> {
    static bool convert(PyObject* o, std::string& out) noexcept {
        std::string_view view;
        if (!read_text(o, view)) return false;
        try {
            out.assign(view);
        } catch (...) {
            raise_from_cpp_exception();
            return false;
        }
        return true;
    }
};

template <class... T>
struct from_python<std::tuple<T...>> {
    static bool convert(PyObject* o, std::tuple<T...>& out) noexcept {
        PyObject* const* items = read_tuple_items(o, sizeof...(T));
        if (items == nullptr) return false;
        return std::apply(
            [items](T&... field) {
                std::size_t i = 0;
                return (from_python<T>::convert(items[i++], field) && ...);
            },
            out);
    }
};

template <class T, std::size_t N>
struct from_python<std::array<T, N>> {
    static bool convert(PyObject* o, std::array<T, N>& out) noexcept {
        PyObject* const* items = read_tuple_items(o, N);
        if (items == nullptr) return false;
        for (std::size_t i = 0; i < N; ++i) {
            if (!from_python<T>::convert(items[i], out[i])) return false;
        }
        return true;
    }
};

// A list of X. Lists of bytes have their own reader above.
template <class T>
struct from_python<std::vector<T>> {
    using Vec = std::vector<T>;

    static bool convert(PyObject* o, Vec& out) noexcept {
        out.clear();
        ListSink sink{&out, &reserve, &read, nullptr};
        if constexpr (std::is_same_v<T, float>) {
            sink.bulk = &bulk_read<T, float, &read_exact_floats>;
        } else if constexpr (std::is_same_v<T, std::array<float, 2>>) {
            sink.bulk = &bulk_read<T, float, &read_exact_float_pairs>;
        }
        return read_list(o, sink);
    }

private:
    static void reserve(void* out, std::size_t n) { static_cast<Vec*>(out)->reserve(n); }

    static bool read(void* out, PyObject* item) {
        T value;
        if (!from_python<T>::convert(item, value)) return false;
        static_cast<Vec*>(out)->push_back(std::move(value));
        return true;
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
    if (result != nullptr) [[likely]]
        return result;
    return api_failed();
}

template <class T, class = void>
struct to_python {
    static_assert(can_be_bound_class<T>,
                  "no conversion to Python for this C++ type: use one of the supported "
                  "kinds, or bind the type as a class");

    // A bound class: a new instance holding the value, moved in when the
    // result is a temporary.
    static PyObject* convert(const T& v) noexcept { return new_instance<T>(v); }
    static PyObject* convert(T&& v) noexcept { return new_instance<T>(std::move(v)); }
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
        if constexpr (std::is_signed_v<T>)
            return checked(PyLong_FromLongLong(v));
        else
            return checked(PyLong_FromUnsignedLongLong(v));
    }
};

template <>
struct to_python<std::string> {
    static PyObject* convert(const std::string& v) noexcept { return text(v); }
};

template <>
struct to_python<std::string_view> {
    static PyObject* convert(std::string_view v) noexcept { return text(v); }
};

// A mapping is a dict, filled in order.
bool dict_set_stolen(PyObject* dict, PyObject* key, PyObject* value) noexcept;

template <class K, class V>
struct to_python<core::Mapping<K, V>> {
    static PyObject* convert(const core::Mapping<K, V>& m) noexcept {
        PyObject* dict = checked(PyDict_New());
        if (dict == nullptr) return nullptr;
        for (const auto& [key, value] : m.items) {
            if (!dict_set_stolen(dict, to_python<K>::convert(key), to_python<V>::convert(value))) {
                Py_DECREF(dict);
                return nullptr;
            }
        }
        return dict;
    }
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

// Lists of results poll for a pending signal once per this many items, so
// Ctrl-C is not held while millions of them are converted.
constexpr std::size_t kPollItems = std::size_t{1} << 16;

// Fills a new list or tuple of `n` slots (stolen, may be nullptr) with the
// converted items; on a failure, a signal's exception included, the
// container is dropped with the slots filled so far.
template <bool Poll, class T>
PyObject* new_sequence(PyObject* seq, const T* items, std::size_t n) noexcept {
    if (seq == nullptr) return api_failed();
    PyObject** slots = PySequence_Fast_ITEMS(seq);
    for (std::size_t i = 0; i < n; ++i) {
        if constexpr (Poll) {
            if (i % kPollItems == kPollItems - 1 && PyErr_CheckSignals() < 0) [[unlikely]] {
                Py_DECREF(seq);
                return nullptr;
            }
        }
        slots[i] = to_python<T>::convert(items[i]);
        if (slots[i] == nullptr) {
            Py_DECREF(seq);
            return nullptr;
        }
    }
    return seq;
}

// A fixed-size array is a tuple.
template <class T, std::size_t N>
struct to_python<std::array<T, N>> {
    static PyObject* convert(const std::array<T, N>& v) noexcept {
        return new_sequence<false>(PyTuple_New(N), v.data(), N);
    }
};

// A span or vector is a list; bytes become a list of ints.
template <class T>
struct to_python<std::span<const T>> {
    static PyObject* convert(std::span<const T> v) noexcept {
        if constexpr (std::is_same_v<T, uint8_t>) {
            return byte_list(v.data(), v.size());
        } else {
            return new_sequence<true>(PyList_New(static_cast<Py_ssize_t>(v.size())), v.data(),
                                      v.size());
        }
    }
};

template <class T>
struct to_python<std::vector<T>> {
    static PyObject* convert(const std::vector<T>& v) noexcept {
        return to_python<std::span<const T>>::convert(std::span<const T>(v));
    }
};

}  // namespace core::py
