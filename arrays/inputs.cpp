#include "inputs.hpp"

#include <cstdint>

namespace core::arrays {

namespace {

std::string prefix(const char* arg) { return std::string("argument '") + arg + "': "; }

std::string object_text(nb::handle o) {
    nb::str qualname = nb::steal<nb::str>(PyType_GetQualName(Py_TYPE(o.ptr())));
    return std::string("'") + qualname.c_str() + "' object";
}

}  // namespace

AnyArray import_array(nb::handle o, const char* arg, const char* expected) {
    AnyArray a;
    if (!nb::try_cast(o, a, false)) {
        PyErr_Clear();
        const std::string message =
            prefix(arg) + "expected " + expected + ", got " + object_text(o);
        throw nb::type_error(message.c_str());
    }
    return a;
}

std::string dtype_name(nb::dlpack::dtype dtype) {
    using Code = nb::dlpack::dtype_code;
    const auto code = static_cast<Code>(dtype.code);
    const std::string bits = std::to_string(dtype.bits);
    if (dtype.lanes != 1) return "vector";
    switch (code) {
        case Code::Int:
            return "int" + bits;
        case Code::UInt:
            return "uint" + bits;
        case Code::Float:
            return "float" + bits;
        case Code::Bool:
            return "bool";
        case Code::Complex:
            return "complex" + bits;
        default:
            return "unknown";
    }
}

std::string shape_text(const AnyArray& a) {
    std::string s = "(";
    for (std::size_t i = 0; i < a.ndim(); ++i) {
        if (i > 0) s += ", ";
        s += std::to_string(a.shape(i));
    }
    return s + (a.ndim() == 1 ? ",)" : ")");
}

void refuse_dtype(const AnyArray& a, const char* arg, const char* expected) {
    const std::string message =
        prefix(arg) + "expected " + expected + ", got dtype " + dtype_name(a.dtype());
    throw nb::type_error(message.c_str());
}

void refuse_shape(const AnyArray& a, const char* arg, const char* expected) {
    const std::string message =
        prefix(arg) + "expected shape " + expected + ", got " + shape_text(a);
    throw nb::value_error(message.c_str());
}

void check_row_count(std::size_t want, std::size_t got, std::size_t cols, nb::handle o,
                     const char* arg, const char* rows_of) {
    if (want == got) return;
    const std::string expected = "(" + std::to_string(want) +
                                 (cols == 0 ? ",)" : ", " + std::to_string(cols) + ")") +
                                 ", as many rows as " + rows_of;
    refuse_shape(import_array(o, arg, ""), arg, expected.c_str());
}

std::size_t rows_of(const AnyArray& a, const char* arg, std::size_t cols) {
    const bool ok = cols == 0 ? a.ndim() == 1 : a.ndim() == 2 && a.shape(1) == cols;
    if (!ok) {
        const std::string expected = cols == 0 ? "(n,)" : "(n, " + std::to_string(cols) + ")";
        refuse_shape(a, arg, expected.c_str());
    }
    return a.shape(0);
}

FloatRows::FloatRows(nb::handle o, const char* arg, std::size_t cols) {
    static constexpr const char* kExpected = "a float32 or float64 array";
    array_ = import_array(o, arg, kExpected);
    const auto dtype = array_.dtype();
    const bool f32 = dtype == nb::dtype<float>(), f64 = dtype == nb::dtype<double>();
    if (!f32 && !f64) refuse_dtype(array_, arg, kExpected);
    rows_ = rows_of(array_, arg, cols);
    cols_ = cols == 0 ? 1 : cols;
    f64_ = f64;
    data_ = static_cast<const std::uint8_t*>(array_.data());
    const auto size = static_cast<std::int64_t>(array_.itemsize());
    row_step_ = array_.stride(0) * size;
    col_step_ = cols == 0 ? 0 : array_.stride(1) * size;
    packed_ = f32 && reinterpret_cast<std::uintptr_t>(data_) % alignof(float) == 0 &&
              (rows_ <= 1 || row_step_ == static_cast<std::int64_t>(cols_) * size) &&
              (cols_ == 1 || col_step_ == size);
}

ByteInput::ByteInput(nb::handle o, const char* arg) {
    static constexpr const char* kExpected = "a bytes-like object or a uint8 array";
    array_ = import_array(o, arg, kExpected);
    const auto dtype = array_.dtype();
    if (dtype != nb::dtype<std::uint8_t>() && dtype != nb::dtype<std::int8_t>())
        refuse_dtype(array_, arg, kExpected);
    size_ = array_.size();
    data_ = static_cast<const std::uint8_t*>(array_.data());
    // C order: each axis steps over the product of the later ones (an axis
    // of length 1 may step anyhow).
    bool contiguous = true;
    std::int64_t step = 1;
    for (std::size_t k = array_.ndim(); k-- > 0;) {
        if (array_.shape(k) != 1 && array_.stride(k) != step) contiguous = false;
        step *= static_cast<std::int64_t>(array_.shape(k));
    }
    if (contiguous || size_ == 0) return;
    copy_.resize(size_);
    std::vector<std::size_t> index(array_.ndim(), 0);
    for (std::size_t i = 0; i < size_; ++i) {
        std::int64_t offset = 0;
        for (std::size_t k = 0; k < index.size(); ++k)
            offset += static_cast<std::int64_t>(index[k]) * array_.stride(k);
        copy_[i] = data_[offset];
        for (std::size_t k = index.size(); k-- > 0;) {
            if (++index[k] < array_.shape(k)) break;
            index[k] = 0;
        }
    }
    data_ = copy_.data();
}

}  // namespace core::arrays
