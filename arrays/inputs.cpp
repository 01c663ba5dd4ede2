#include "inputs.hpp"

#include <bit>
#include <cmath>

namespace core::arrays {

namespace {

std::string prefix(const char* arg) { return std::string("argument '") + arg + "': "; }

constexpr bool kLittle = std::endian::native == std::endian::little;

// A buffer's struct-module format and item size as a dtype. Only the size
// the exporter reports counts (ctypes says '<l' for an 8-byte long).
Dtype parse_format(const char* format, Py_ssize_t itemsize) {
    if (format == nullptr) format = "B";
    bool swapped = false;
    switch (*format) {
        case '<':
            swapped = !kLittle;
            ++format;
            break;
        case '>':
        case '!':
            swapped = kLittle;
            ++format;
            break;
        case '@':
        case '=':
            ++format;
            break;
        default:
            break;
    }
    Dtype d;
    if (format[0] == '\0' || format[1] != '\0' || itemsize <= 0 || itemsize > 16) return d;
    const auto size = static_cast<std::uint8_t>(itemsize);
    const bool int_size = size == 1 || size == 2 || size == 4 || size == 8;
    switch (format[0]) {
        case 'e':
        case 'f':
        case 'd':
            if (size == 2 || size == 4 || size == 8) d.kind = Kind::kFloat;
            break;
        case 'g':  // long double: read as this machine's, so never swapped
            if (size == 8 || (size == sizeof(long double) && !swapped)) d.kind = Kind::kFloat;
            break;
        case 'b':
        case 'h':
        case 'i':
        case 'l':
        case 'q':
        case 'n':
            if (int_size) d.kind = Kind::kSigned;
            break;
        case 'B':
        case 'H':
        case 'I':
        case 'L':
        case 'Q':
        case 'N':
            if (int_size) d.kind = Kind::kUnsigned;
            break;
        case '?':
            if (size == 1) d.kind = Kind::kBool;
            break;
        case 'c':
            if (size == 1) d.kind = Kind::kChar;
            break;
        default:
            break;
    }
    d.size = size;
    d.swapped = swapped && size > 1;
    return d;
}

Dtype from_dlpack(nb::dlpack::dtype t) {
    using Code = nb::dlpack::dtype_code;
    Dtype d;
    if (t.lanes != 1 || t.bits % 8 != 0) return d;
    d.size = static_cast<std::uint8_t>(t.bits / 8);
    const bool int_size = d.size == 1 || d.size == 2 || d.size == 4 || d.size == 8;
    switch (static_cast<Code>(t.code)) {
        case Code::Int:
            if (int_size) d.kind = Kind::kSigned;
            break;
        case Code::UInt:
            if (int_size) d.kind = Kind::kUnsigned;
            break;
        case Code::Float:
            if (d.size == 2 || d.size == 4 || d.size == 8) d.kind = Kind::kFloat;
            break;
        case Code::Bool:
            if (d.size == 1) d.kind = Kind::kBool;
            break;
        default:
            break;
    }
    return d;
}

// The `size` bytes at `p` as an unsigned integer, in this machine's order.
std::uint64_t load_bits(const std::uint8_t* p, std::size_t size, bool swapped) noexcept {
    std::uint8_t b[8];
    for (std::size_t k = 0; k < size; ++k) b[k] = p[swapped ? size - 1 - k : k];
    switch (size) {
        case 1:
            return b[0];
        case 2: {
            std::uint16_t v;
            std::memcpy(&v, b, 2);
            return v;
        }
        case 4: {
            std::uint32_t v;
            std::memcpy(&v, b, 4);
            return v;
        }
        default: {
            std::uint64_t v;
            std::memcpy(&v, b, 8);
            return v;
        }
    }
}

// IEEE half to float: exact.
float half_to_float(std::uint16_t h) noexcept {
    const std::uint32_t sign = (h >> 15) & 1, exponent = (h >> 10) & 31, mantissa = h & 1023;
    float magnitude;
    if (exponent == 0) {
        magnitude = std::ldexp(static_cast<float>(mantissa), -24);
    } else if (exponent == 31) {
        if (mantissa == 0) {
            magnitude = INFINITY;
        } else {
            // The payload moves to the top of float's mantissa, quieted, as
            // the float64 a Python float holds comes out when narrowed.
            const std::uint32_t bits = 0x7fc00000u | (mantissa << 13);
            return std::bit_cast<float>(bits | (sign << 31));
        }
    } else {
        magnitude =
            std::ldexp(static_cast<float>(mantissa | 1024), static_cast<int>(exponent) - 25);
    }
    return sign ? -magnitude : magnitude;
}

}  // namespace

std::string object_text(nb::handle o) {
    nb::str qualname = nb::steal<nb::str>(PyType_GetQualName(Py_TYPE(o.ptr())));
    return std::string("'") + qualname.c_str() + "' object";
}

ArrayArg::ArrayArg(nb::handle o, const char* arg, const char* expected) : object_(o), arg_(arg) {
    PyObject* p = o.ptr();
    if (PyObject_CheckBuffer(p)) {
        if (PyObject_GetBuffer(p, &view_, PyBUF_RECORDS_RO) == 0) {
            has_view_ = true;
        } else if (PyErr_ExceptionMatches(PyExc_TypeError) ||
                   PyErr_ExceptionMatches(PyExc_ValueError) ||
                   PyErr_ExceptionMatches(PyExc_BufferError) ||
                   PyErr_ExceptionMatches(PyExc_NotImplementedError)) {
            PyErr_Clear();  // no buffer of this kind: DLPack may do
        } else {
            throw nb::python_error();  // Ctrl-C, no memory: not a refusal
        }
    }
    if (has_view_) {
        data_ = static_cast<const std::uint8_t*>(view_.buf);
        dtype_ = parse_format(view_.format, view_.itemsize);
        const auto itemsize = static_cast<std::int64_t>(view_.itemsize);
        if (view_.shape == nullptr) {  // a plain run of bytes
            shape_.push_back(
                static_cast<std::size_t>(view_.len / std::max<Py_ssize_t>(1, view_.itemsize)));
        } else {
            for (int k = 0; k < view_.ndim; ++k)
                shape_.push_back(static_cast<std::size_t>(view_.shape[k]));
        }
        strides_.resize(shape_.size());
        if (view_.strides != nullptr && view_.shape != nullptr) {
            for (std::size_t k = 0; k < shape_.size(); ++k) strides_[k] = view_.strides[k];
        } else {  // C order
            std::int64_t step = itemsize;
            for (std::size_t k = shape_.size(); k-- > 0;) {
                strides_[k] = step;
                step *= static_cast<std::int64_t>(shape_[k]);
            }
        }
        return;
    }
    // DLPack, for arrays without the buffer protocol.
    const bool dlpack = PyObject_HasAttrString(p, "__dlpack__") == 1;
    if (dlpack && nb::try_cast(o, dlpack_, false)) {
        data_ = static_cast<const std::uint8_t*>(dlpack_.data());
        dtype_ = from_dlpack(dlpack_.dtype());
        const auto itemsize = static_cast<std::int64_t>(dlpack_.itemsize());
        for (std::size_t k = 0; k < dlpack_.ndim(); ++k) {
            shape_.push_back(dlpack_.shape(k));
            strides_.push_back(dlpack_.stride(k) * itemsize);
        }
        return;
    }
    PyErr_Clear();
    if (dlpack) refuse_device(expected);
    if (PyObject_HasAttrString(p, "dtype") == 1) refuse_dtype(expected);
    PyErr_Clear();
    const std::string message = prefix(arg) + "expected " + expected + ", got " + object_text(o);
    throw nb::type_error(message.c_str());
}

ArrayArg::~ArrayArg() {
    if (has_view_) PyBuffer_Release(&view_);
}

std::size_t ArrayArg::size() const noexcept {
    std::size_t n = 1;
    for (const std::size_t s : shape_) n *= s;
    return n;
}

std::string ArrayArg::shape_text() const {
    std::string s = "(";
    for (std::size_t i = 0; i < shape_.size(); ++i) {
        if (i > 0) s += ", ";
        s += std::to_string(shape_[i]);
    }
    return s + (shape_.size() == 1 ? ",)" : ")");
}

void ArrayArg::refuse_dtype(const char* expected) const {
    // numpy's own name where there is one ('>f4', 'complex128', 'object').
    std::string name;
    PyObject* dtype = PyObject_GetAttrString(object_.ptr(), "dtype");
    if (dtype != nullptr) {
        PyObject* text = PyObject_Str(dtype);
        Py_DECREF(dtype);
        if (text != nullptr) {
            const char* utf8 = PyUnicode_AsUTF8(text);
            if (utf8 != nullptr) name = utf8;
            Py_DECREF(text);
        }
    }
    PyErr_Clear();
    if (name.empty()) {
        name = has_view_ && view_.format != nullptr ? std::string("'") + view_.format + "'"
                                                    : std::string("unknown");
        name = "format " + name;
    } else {
        name = "dtype " + name;
    }
    const std::string message = prefix(arg_) + "expected " + expected + ", got " + name;
    throw nb::type_error(message.c_str());
}

void ArrayArg::refuse_device(const char* expected) const {
    // DLPack's device type: 1 is the CPU, anything else memory this module
    // cannot read.
    nb::object device = nb::steal(PyObject_CallMethod(object_.ptr(), "__dlpack_device__", nullptr));
    long type = -1;
    if (device.is_valid() && PyTuple_Check(device.ptr()) && PyTuple_GET_SIZE(device.ptr()) >= 1)
        type = PyLong_AsLong(PyTuple_GET_ITEM(device.ptr(), 0));
    PyErr_Clear();
    if (type == -1 || type == 1) return;
    const std::string message = prefix(arg_) + "expected " + expected +
                                " in CPU memory, got an array on DLPack device type " +
                                std::to_string(type);
    throw nb::type_error(message.c_str());
}

void ArrayArg::refuse_shape(const char* expected) const {
    const std::string message =
        prefix(arg_) + "expected shape " + expected + ", got " + shape_text();
    throw nb::value_error(message.c_str());
}

std::size_t ArrayArg::rows(std::size_t cols) const {
    const bool ok = cols == 0 ? ndim() == 1 : ndim() == 2 && shape(1) == cols;
    if (!ok) {
        const std::string expected = cols == 0 ? "(n,)" : "(n, " + std::to_string(cols) + ")";
        refuse_shape(expected.c_str());
    }
    return shape(0);
}

bool ArrayArg::take_view(Py_buffer& out) noexcept {
    if (!has_view_) return false;
    out = view_;
    has_view_ = false;
    return true;
}

float number_at(const std::uint8_t* p, Dtype d) noexcept {
    if (d.size > 8) {  // long double, only ever this machine's own
        long double v;
        std::memcpy(&v, p, sizeof v);
        // As float() of it gives, then narrowed.
        return static_cast<float>(static_cast<double>(v));
    }
    const std::uint64_t bits = load_bits(p, d.size, d.swapped);
    switch (d.kind) {
        case Kind::kFloat:
            switch (d.size) {
                case 2:
                    return half_to_float(static_cast<std::uint16_t>(bits));
                case 4:
                    return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
                default:
                    return static_cast<float>(std::bit_cast<double>(bits));
            }
        case Kind::kSigned:
        case Kind::kUnsigned:
        case Kind::kBool: {
            const Integer v = integer_at(p, d);
            // Through float64, as a Python int is narrowed.
            return v.negative
                       ? static_cast<float>(static_cast<double>(static_cast<std::int64_t>(v.bits)))
                       : static_cast<float>(static_cast<double>(v.bits));
        }
        default:
            return NAN;
    }
}

Integer integer_at(const std::uint8_t* p, Dtype d) noexcept {
    if (d.size > 8) return {0, false};  // refused before any read
    const std::uint64_t bits = load_bits(p, d.size, d.swapped);
    if (d.kind == Kind::kBool) return {bits != 0 ? 1u : 0u, false};
    if (d.kind != Kind::kSigned) return {bits, false};
    std::int64_t v;
    switch (d.size) {
        case 1:
            v = static_cast<std::int8_t>(bits);
            break;
        case 2:
            v = static_cast<std::int16_t>(bits);
            break;
        case 4:
            v = static_cast<std::int32_t>(bits);
            break;
        default:
            v = static_cast<std::int64_t>(bits);
            break;
    }
    return {static_cast<std::uint64_t>(v), v < 0};
}

void check_row_count(std::size_t want, const ArrayArg& got, std::size_t cols, const char* rows_of) {
    if (want == got.shape(0)) return;
    const std::string expected = "(" + std::to_string(want) +
                                 (cols == 0 ? ",)" : ", " + std::to_string(cols) + ")") +
                                 ", as many rows as " + rows_of;
    got.refuse_shape(expected.c_str());
}

FloatRows::FloatRows(nb::handle o, const char* arg, std::size_t cols)
    : array_(o, arg, "an array of numbers") {
    if (!is_number(array_.dtype())) array_.refuse_dtype("an array of numbers");
    rows_ = array_.rows(cols);
    cols_ = cols == 0 ? 1 : cols;
    row_step_ = array_.stride(0);
    col_step_ = cols == 0 ? 0 : array_.stride(1);
    const auto size = static_cast<std::int64_t>(sizeof(float));
    packed_ = array_.dtype().native(Kind::kFloat, 4) &&
              reinterpret_cast<std::uintptr_t>(array_.data()) % alignof(float) == 0 &&
              (rows_ <= 1 || row_step_ == static_cast<std::int64_t>(cols_) * size) &&
              (cols_ == 1 || col_step_ == size);
}

ByteInput::ByteInput(nb::handle o, const char* arg)
    : array_(o, arg, "a bytes-like object or a uint8 array") {
    const Dtype d = array_.dtype();
    if (d.size != 1 ||
        (d.kind != Kind::kUnsigned && d.kind != Kind::kSigned && d.kind != Kind::kChar))
        array_.refuse_dtype("a bytes-like object or a uint8 array");
    size_ = array_.size();
    data_ = array_.data();
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

void ByteInput::hand_over(Owned& to) {
    if (copy_.empty() && size_ > 0 && array_.take_view(to.view)) {
        to.has_view = true;
        to.bytes = {data_, size_};
        return;
    }
    to.copy.assign(data_, data_ + size_);
    to.bytes = {to.copy.data(), to.copy.size()};
}

}  // namespace core::arrays
