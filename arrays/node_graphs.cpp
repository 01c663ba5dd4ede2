// The node-graph checker (gfxcore.check_node_graph): the document decoded
// once, by the compiler's own decoder, without the lock; gfxcore words the
// problems it returns.
#include <string>
#include <string_view>
#include <variant>

#include "core_call.hpp"
#include "groups.hpp"
#include "inputs.hpp"
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
        const std::string message =
            "argument 'document': expected str, got " + object_text(document);
        throw nb::type_error(message.c_str());
    }
    Py_ssize_t size = 0;
    // The UTF-8 text is cached on the str, as compile_node_graph reads it; a
    // lone surrogate raises UnicodeEncodeError as it does there.
    const char* text = PyUnicode_AsUTF8AndSize(document.ptr(), &size);
    if (text == nullptr) throw nb::python_error();
    const std::string_view json(text, static_cast<std::size_t>(size));
    // A document of this size takes milliseconds: on a thread of its own at
    // once, rather than after a first try on this one.
    constexpr std::size_t kLarge = std::size_t{1} << 21;
    const std::vector<Problem> problems =
        core_call(json.size() < kLarge ? Length::kUnknown : Length::kLong,
                  [&] { return core::check_node_graph(json); });
    nb::object rules[Problem::kNoFinalColor + 1];  // each rule's name made once
    nb::list out;
    for (const Problem& p : problems) {
        nb::object& rule = rules[p.rule];
        if (!rule.is_valid()) {
            const std::string_view name = rule_name(p.rule);
            rule = nb::str(name.data(), name.size());
        }
        nb::object t = nb::steal(PyTuple_New(static_cast<Py_ssize_t>(p.fields.size() + 1)));
        if (!t.is_valid()) throw nb::python_error();
        PyTuple_SET_ITEM(t.ptr(), 0, rule.inc_ref().ptr());
        for (std::size_t k = 0; k < p.fields.size(); ++k) {
            PyTuple_SET_ITEM(t.ptr(), static_cast<Py_ssize_t>(k + 1),
                             field(p.fields[k]).release().ptr());
        }
        out.append(t);
    }
    return out;
}

}  // namespace

void register_node_graphs(nb::module_& m) {
    m.def("_check_node_graph", &check_node_graph, nb::arg("document").none(),
          nb::sig("def _check_node_graph(document: str) -> list[tuple[object, ...]]"),
          "The problems of a node-graph document, each as its rule's name and the\n"
          "pieces of the document it names, for `gfxcore.check_node_graph` to word.");
}

}  // namespace core::arrays
