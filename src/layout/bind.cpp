// Python surface of the WGSL struct layout.
#include "layout/layout.hpp"
#include "module/bind.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

const Registration layout{"compute_layout", [](PyObject* m) {
    return function<&compute_layout>(m, "compute_layout(channels)");
}};

const Registration wgsl{"generate_wgsl_struct", [](PyObject* m) {
    return function<&generate_wgsl_struct>(m, "generate_wgsl_struct(struct_name, channels)");
}};

}  // namespace
}  // namespace core
