// Array arguments: anything with the buffer protocol (read as memoryview
// reads it, with or without strides) or, failing that, __dlpack__ in CPU
// memory; read where it lies, never copied unless its layout asks for it.
// Elements are taken as the per-item call takes the same Python number: a
// float narrowed to float32, an integer through float64 (as a Python int),
// a bool as 0 or 1, either byte order. Refusals name the argument and what
// was expected: TypeError for what is not an array of an accepted dtype,
// ValueError for a wrong shape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

namespace core::arrays {

namespace nb = nanobind;

// "'list' object": the type of `o` as refusals name it.
std::string object_text(nb::handle o);

// What an element is. kOther has no number meaning (objects, complex,
// strings, records) and is refused by every reader.
enum class Kind : std::uint8_t { kFloat, kSigned, kUnsigned, kBool, kChar, kOther };

struct Dtype {
    Kind kind = Kind::kOther;
    std::uint8_t size = 0;  // bytes
    bool swapped = false;   // the other byte order than this machine's

    bool native(Kind k, std::size_t bytes) const noexcept {
        return kind == k && size == bytes && !swapped;
    }
};

// One array argument, its memory kept alive (and its buffer held) for as
// long as this lives. Destroy it with the interpreter lock held.
class ArrayArg {
public:
    // TypeError "argument 'arg': expected <expected>, got 'T' object" for
    // what is no array (or "got dtype D" for an array it cannot read).
    ArrayArg(nb::handle o, const char* arg, const char* expected);
    ~ArrayArg();
    ArrayArg(const ArrayArg&) = delete;
    ArrayArg& operator=(const ArrayArg&) = delete;

    std::size_t ndim() const noexcept { return shape_.size(); }
    std::size_t shape(std::size_t k) const noexcept { return shape_[k]; }
    std::int64_t stride(std::size_t k) const noexcept { return strides_[k]; }  // bytes
    std::size_t size() const noexcept;
    const std::uint8_t* data() const noexcept { return data_; }
    Dtype dtype() const noexcept { return dtype_; }

    // "(4, 2)"
    std::string shape_text() const;

    [[noreturn]] void refuse_dtype(const char* expected) const;
    [[noreturn]] void refuse_shape(const char* expected) const;

private:
    // TypeError for an array in memory other than the CPU's; returns when
    // it is not one.
    void refuse_device(const char* expected) const;

public:
    // Checks that the shape is (n, cols), or (n,) for cols == 0, and gives n.
    std::size_t rows(std::size_t cols) const;

    // Moves the held buffer (if any) to `out`, whose owner must release it
    // with the lock held; the data stays valid until then.
    bool take_view(Py_buffer& out) noexcept;

private:
    nb::handle object_;
    const char* arg_;
    Py_buffer view_{};
    bool has_view_ = false;
    nb::ndarray<nb::ro, nb::device::cpu> dlpack_;
    const std::uint8_t* data_ = nullptr;
    std::vector<std::size_t> shape_;
    std::vector<std::int64_t> strides_;
    Dtype dtype_;
};

// The element at `p` as float32, as the per-item call converts the same
// Python number; kOther and kChar read as NaN (refused before any read).
float number_at(const std::uint8_t* p, Dtype dtype) noexcept;
// An integer or bool element: its value when not negative, else the value
// as two's complement in `bits`.
struct Integer {
    std::uint64_t bits;
    bool negative;
};
Integer integer_at(const std::uint8_t* p, Dtype dtype) noexcept;

// ValueError "argument 'arg': expected shape (want, cols), as many rows as
// <rows_of>, got ..." unless got == want; (want,) for cols == 0.
void check_row_count(std::size_t want, const ArrayArg& got, std::size_t cols, const char* rows_of);

// Element (row, column) loaders: one per memory layout, so a kernel's loop
// sees a plain load for the common float32 and float64 arrays.
struct PackedF32 {
    const float* p;
    std::size_t cols;
    float operator()(std::size_t i, std::size_t j) const noexcept { return p[i * cols + j]; }
};

template <class T>
struct Strided {
    const std::uint8_t* p;
    std::int64_t row_step, col_step;  // bytes
    float operator()(std::size_t i, std::size_t j) const noexcept {
        T v;
        std::memcpy(
            &v,
            p + static_cast<std::int64_t>(i) * row_step + static_cast<std::int64_t>(j) * col_step,
            sizeof v);
        return static_cast<float>(v);
    }
};

// Any other number dtype, converted element by element.
struct AnyNumber {
    const std::uint8_t* p;
    std::int64_t row_step, col_step;
    Dtype dtype;
    float operator()(std::size_t i, std::size_t j) const noexcept {
        return number_at(
            p + static_cast<std::int64_t>(i) * row_step + static_cast<std::int64_t>(j) * col_step,
            dtype);
    }
};

// A number argument of shape (n, cols), or (n,) for cols == 0.
class FloatRows {
public:
    FloatRows(nb::handle o, const char* arg, std::size_t cols);

    std::size_t rows() const noexcept { return rows_; }
    const ArrayArg& array() const noexcept { return array_; }

    // f(load) with `load(i, j)` giving element (i, j) as float32.
    template <class F>
    decltype(auto) visit(F&& f) const {
        const std::uint8_t* data = array_.data();
        if (packed_) return f(PackedF32{reinterpret_cast<const float*>(data), cols_});
        const Dtype d = array_.dtype();
        if (d.native(Kind::kFloat, 8)) return f(Strided<double>{data, row_step_, col_step_});
        if (d.native(Kind::kFloat, 4)) return f(Strided<float>{data, row_step_, col_step_});
        return f(AnyNumber{data, row_step_, col_step_, d});
    }

private:
    ArrayArg array_;
    std::size_t rows_ = 0, cols_ = 1;
    std::int64_t row_step_ = 0, col_step_ = 0;
    bool packed_ = false;
};

// Whether a dtype reads as a number (float, integer or bool).
inline bool is_number(Dtype d) noexcept {
    return d.kind == Kind::kFloat || d.kind == Kind::kSigned || d.kind == Kind::kUnsigned ||
           d.kind == Kind::kBool;
}

// A byte argument: bytes, bytearray, memoryview, array.array, a ctypes
// array or an array of one-byte items (uint8, int8) of any shape, its bytes
// in C order. Read where it lies when contiguous, else copied once.
class ByteInput {
public:
    ByteInput(nb::handle o, const char* arg);

    std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }

    // The bytes made independent of this object, for work that may outlive
    // the call: the buffer itself (`view`, released by its new owner with
    // the lock held) or else a copy (`copy`).
    struct Owned {
        Py_buffer view{};
        bool has_view = false;
        std::vector<std::uint8_t> copy;
        std::span<const std::uint8_t> bytes;
    };
    void hand_over(Owned& to);

private:
    ArrayArg array_;
    std::vector<std::uint8_t> copy_;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace core::arrays
