// Failures raised by the pure C++ cores. The binding layer turns each into the
// Python exception of the same name; any other std::exception is an internal
// fault.
#pragma once

#include <stdexcept>

namespace core {

struct ValueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct RuntimeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace core
