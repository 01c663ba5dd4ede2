// The node-graph checker (gfxcore.check_node_graph): the document decoded
// once, by the compiler's own decoder, without the lock; gfxcore words the
// problems it returns.
#include <string_view>
#include <variant>

#include "core_call.hpp"
#include "groups.hpp"
#include "node_compiler/check.hpp"

namespace core::arrays {
namespace {

nb::object field(const ProblemField& f) {
    return std::visit(
        [](const auto& v) -> nb::object {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return nb::none();
            } else if constexpr (std::is_same_v<T, std::string>) {
                return nb::str(v.data(), v.size());
            } else if constexpr (std::is_same_v<T, int64_t>) {
                return nb::int_(v);
            } else {
                return nb::float_(v);
            }
        },
        f);
}

nb::list check_node_graph(nb::handle document) {
    if (!PyUnicode_Check(document.ptr())) {
        throw nb::type_error("document must be a str");
    }
    Py_ssize_t size = 0;
    // The UTF-8 text is cached on the str, as compile_node_graph reads it; a
    // lone surrogate raises UnicodeEncodeError as it does there.
    const char* text = PyUnicode_AsUTF8AndSize(document.ptr(), &size);
    if (text == nullptr) throw nb::python_error();
    const std::string_view json(text, static_cast<std::size_t>(size));
    const std::vector<Problem> problems =
        core_call(Length::kUnknown, [&] { return core::check_node_graph(json); });
    nb::list out;
    for (const Problem& p : problems) {
        const std::string_view rule = rule_name(p.rule);
        nb::list fields;
        fields.append(nb::str(rule.data(), rule.size()));
        for (const ProblemField& f : p.fields) fields.append(field(f));
        out.append(nb::tuple(fields));
    }
    return out;
}

}  // namespace

void register_node_graphs(nb::module_& m) {
    m.def("_check_node_graph", &check_node_graph, nb::arg("document"),
          nb::sig("def _check_node_graph(document: str) -> list[tuple[object, ...]]"),
          "The problems of a node-graph document, each as its rule's name and the\n"
          "pieces of the document it names, for `gfxcore.check_node_graph` to word.");
}

}  // namespace core::arrays
