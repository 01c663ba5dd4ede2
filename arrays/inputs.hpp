// Array arguments: anything with the buffer protocol or __dlpack__ that
// lives in CPU memory, read where it lies (strided or not, never copied).
// Refusals name the argument and what was expected: TypeError for what is
// not an array of an accepted dtype, ValueError for a wrong shape.
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

using AnyArray = nb::ndarray<nb::ro, nb::device::cpu>;

// `o` as an array, or TypeError "argument 'arg': expected <expected>, got 'T' object".
AnyArray import_array(nb::handle o, const char* arg, const char* expected);

// "float32", "int64", "uint8", "bool", ... as numpy names them.
std::string dtype_name(nb::dlpack::dtype dtype);
// "(4, 2)"
std::string shape_text(const AnyArray& a);

[[noreturn]] void refuse_dtype(const AnyArray& a, const char* arg, const char* expected);
[[noreturn]] void refuse_shape(const AnyArray& a, const char* arg, const char* expected);

// ValueError "argument 'arg': expected shape (want, cols), as many rows as
// <rows_of>, got ..." unless got == want; (want,) for cols == 0.
void check_row_count(std::size_t want, std::size_t got, std::size_t cols, nb::handle o,
                     const char* arg, const char* rows_of);

// Checks that `a` has shape (n, cols), or (n,) for cols == 0, and gives n.
std::size_t rows_of(const AnyArray& a, const char* arg, std::size_t cols);

// Reads float32 (packed or strided) and float64 elements by (row, column),
// each as the float32 value _core takes for a Python float: the float64 is
// rounded to nearest, large ones to ±inf, NaN stays NaN.
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

// A float32 or float64 argument of shape (n, cols), or (n,) for cols == 0.
class FloatRows {
public:
    FloatRows(nb::handle o, const char* arg, std::size_t cols);

    std::size_t rows() const noexcept { return rows_; }

    // f(load) with `load(i, j)` giving element (i, j) as float32; one
    // instantiation per memory layout, so a kernel's loop sees a plain load.
    template <class F>
    decltype(auto) visit(F&& f) const {
        if (packed_) return f(PackedF32{reinterpret_cast<const float*>(data_), cols_});
        if (f64_) return f(Strided<double>{data_, row_step_, col_step_});
        return f(Strided<float>{data_, row_step_, col_step_});
    }

private:
    AnyArray array_;  // keeps the memory alive while the lock is released
    const std::uint8_t* data_ = nullptr;
    std::size_t rows_ = 0, cols_ = 1;
    std::int64_t row_step_ = 0, col_step_ = 0;
    bool f64_ = false, packed_ = false;
};

// A byte argument: bytes, bytearray, memoryview, array.array or an array
// of one-byte items (uint8, int8) of any shape, its bytes in C order. Read
// where it lies when contiguous, else copied once.
class ByteInput {
public:
    ByteInput(nb::handle o, const char* arg);

    std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }

private:
    AnyArray array_;
    std::vector<std::uint8_t> copy_;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace core::arrays
