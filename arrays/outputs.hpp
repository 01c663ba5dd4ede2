// Results are plain numpy arrays that own their memory (numpy allocates
// them, so its memory tracing sees them), created uninitialised with the
// lock held and filled by the native work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include <nanobind/nanobind.h>

namespace core::arrays {

namespace nb = nanobind;

template <class T>
struct NewArray {
    nb::object array;
    T* data;
};

// numpy.empty(shape, dtype) and its data; `dtype` a numpy name ("float32").
nb::object numpy_empty(std::span<const std::size_t> shape, const char* dtype, void** data);

template <class T>
constexpr const char* kNumpyName = nullptr;
template <>
inline constexpr const char* kNumpyName<float> = "float32";
template <>
inline constexpr const char* kNumpyName<bool> = "bool";
template <>
inline constexpr const char* kNumpyName<std::uint32_t> = "uint32";
template <>
inline constexpr const char* kNumpyName<std::uint8_t> = "uint8";
template <>
inline constexpr const char* kNumpyName<std::int64_t> = "int64";

template <class T>
NewArray<T> new_array(std::span<const std::size_t> shape) {
    static_assert(kNumpyName<T> != nullptr, "no numpy dtype for this element type");
    void* data = nullptr;
    nb::object array = numpy_empty(shape, kNumpyName<T>, &data);
    return {std::move(array), static_cast<T*>(data)};
}

template <class T>
NewArray<T> new_array(std::initializer_list<std::size_t> shape) {
    return new_array<T>(std::span<const std::size_t>(shape.begin(), shape.size()));
}

}  // namespace core::arrays
