// Python surface of the WGSL struct layout.
#include "layout/layout.hpp"
#include "module/bind.hpp"
#include "node_compiler/interim_convert.hpp"

namespace core {
namespace {

using namespace bind;

Mapping<std::string, uint64_t> compute_layout(std::vector<Channel> channels) {
    return {channel_offsets(channels)};
}

std::string wgsl_struct(std::string_view struct_name, std::vector<Channel> channels) {
    return generate_wgsl_struct(struct_name, channels);
}

const Registration layout{"compute_layout", [](PyObject* m) {
    return function<&compute_layout>(m, "compute_layout(channels)");
}};

const Registration wgsl{"generate_wgsl_struct", [](PyObject* m) {
    return function<&wgsl_struct>(m, "generate_wgsl_struct(struct_name, channels)");
}};

}  // namespace
}  // namespace core
