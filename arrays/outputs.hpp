// Results are plain numpy arrays that own their memory (numpy allocates
// them, so its memory tracing sees them), created uninitialised with the
// lock held and filled by the native work; or the caller's `out` array,
// numpy's way (see Output below).
#pragma once

#include <array>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include <nanobind/nanobind.h>

namespace core::arrays {

namespace nb = nanobind;

class ArrayArg;

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

// The caller's `out` array, checked with the lock held: a writable buffer
// of exactly `shape` and the result's dtype (native byte order), any
// strides, sharing no byte with `inputs`. Refusals name `out`: TypeError
// for what is not such an array or has another dtype, ValueError for
// another shape, a read-only array or one overlapping an input.
class OutArray {
public:
    OutArray(nb::handle out, std::span<const std::size_t> shape, const char* dtype,
             std::size_t itemsize, std::span<const ArrayArg* const> inputs);
    ~OutArray();
    OutArray(const OutArray&) = delete;
    OutArray& operator=(const OutArray&) = delete;

    // Its memory when C-ordered, else null (the work then goes to scratch).
    void* packed() const noexcept { return packed_; }
    // Copies C-ordered `items` into the array by its strides.
    void copy_from(const void* items) const noexcept;
    nb::object object() const { return nb::borrow(object_); }
    // The bytes from the lowest to past the highest element it addresses.
    std::uintptr_t lo() const noexcept { return lo_; }
    std::uintptr_t hi() const noexcept { return hi_; }

private:
    nb::handle object_;
    std::uintptr_t lo_ = 0, hi_ = 0;
    Py_buffer view_{};
    void* packed_ = nullptr;
};

// Where a result is written: a new array, the caller's C-ordered `out`
// itself, or scratch copied into a strided `out` by finish(). The work fills
// `data` (C order) without the lock; finish() is called with it held.
//
//     Output<float> out(out_object, {n, 3}, {&points.array()});
//     ... fill out.data ...
//     return out.finish();
template <class T>
class Output {
public:
    Output(nb::handle out, std::span<const std::size_t> shape,
           std::initializer_list<const ArrayArg*> inputs = {})
        : Output(out, shape, std::span<const ArrayArg* const>(inputs.begin(), inputs.size())) {}
    Output(nb::handle out, std::initializer_list<std::size_t> shape,
           std::initializer_list<const ArrayArg*> inputs = {})
        : Output(out, std::span<const std::size_t>(shape.begin(), shape.size()), inputs) {}
    Output(nb::handle out, std::span<const std::size_t> shape,
           std::span<const ArrayArg* const> inputs) {
        static_assert(kNumpyName<T> != nullptr, "no numpy dtype for this element type");
        if (out.is_none()) {
            NewArray<T> made = new_array<T>(shape);
            array_ = std::move(made.array);
            data = made.data;
            return;
        }
        target_.emplace(out, shape, kNumpyName<T>, sizeof(T), inputs);
        array_ = target_->object();
        data = static_cast<T*>(target_->packed());
        if (data == nullptr) {
            std::size_t count = 1;
            for (const std::size_t n : shape) count *= n;
            scratch_ = std::make_unique<T[]>(count);  // never vector<bool>: bytes are written
            data = scratch_.get();
        }
    }

    T* data = nullptr;

    // The caller's array, or null for a new one.
    const OutArray* target() const noexcept { return target_ ? &*target_ : nullptr; }

    nb::object finish() {
        if (scratch_) target_->copy_from(scratch_.get());
        return std::move(array_);
    }

private:
    std::optional<OutArray> target_;
    std::unique_ptr<T[]> scratch_;
    nb::object array_;
};

// out= of a function with three results: None, or a tuple of three, each
// None or an array.
std::array<nb::handle, 3> out_tuple(nb::handle o);

// ValueError naming `out` when two of the caller's arrays share memory: one
// result's writes would change another's.
void refuse_shared(std::initializer_list<const OutArray*> outs);

}  // namespace core::arrays
