// The node-graph checker's bulk pass (gfxcore.check_node_graph): the
// document decoded once, by the compiler's own decoder, without the lock.
#include <string_view>

#include "core_call.hpp"
#include "groups.hpp"
#include "node_compiler/bulk_check.hpp"

namespace core::arrays {
namespace {

bool node_graph_is_clean(nb::handle document) {
    if (!PyUnicode_Check(document.ptr())) {
        throw nb::type_error("document must be a str");
    }
    Py_ssize_t size = 0;
    // The UTF-8 text is cached on the str, as compile_node_graph reads it.
    const char* text = PyUnicode_AsUTF8AndSize(document.ptr(), &size);
    if (text == nullptr) {  // lone surrogates: the compiler refuses it
        PyErr_Clear();
        return false;
    }
    const std::string_view json(text, static_cast<std::size_t>(size));
    return core_call(Length::kUnknown, [&] { return core::node_graph_is_clean(json); });
}

}  // namespace

void register_node_graphs(nb::module_& m) {
    m.def("_node_graph_is_clean", &node_graph_is_clean, nb::arg("document").none(),
          nb::sig("def _node_graph_is_clean(document: str) -> bool"),
          "True when `compile_node_graph(document)` succeeds and the graph has none\n"
          "of the faults `gfxcore.check_node_graph` reports; False means that the\n"
          "checker must look item by item.");
}

}  // namespace core::arrays
