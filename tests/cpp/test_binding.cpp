// A class whose constructor's text signature names fewer parameters than its
// C++ function takes would read unset argument slots: building it must fail
// at once, and a matching one must build and construct.
#include <stdexcept>
#include <string>

#include "check.hpp"
#include "module/class_builder.hpp"
#include "module/registry.hpp"

namespace {

struct Probe {
    float x = 0.0f;
};

Probe make_probe(float x, float y) { return {x + y}; }

void constructor_arity_is_checked() {
    using core::py::Class;
    std::string refusal;
    try {
        Class<Probe>("Probe", "(x)").constructor<&make_probe>();
    } catch (const std::logic_error& e) {
        refusal = e.what();
    }
    CHECK(refusal ==
          "Probe.__new__(): the text signature names 1 parameters, the C++ "
          "function takes 2");

    PyTypeObject* type = Class<Probe>("Probe", "(x, y)").constructor<&make_probe>().finish();
    CHECK(type != nullptr);
    if (type == nullptr) return;
    PyObject* made = PyObject_CallFunction(reinterpret_cast<PyObject*>(type), "dd", 1.0, 2.0);
    CHECK(made != nullptr && core::py::as_instance<Probe>(made)->value.x == 3.0f);
    Py_XDECREF(made);
}

// The module's member list and the units' registrations must name the same
// members: a listed member left unregistered fails the import, never skips.
const core::py::Registration probe{"probe", [](PyObject*) -> PyObject* { return nullptr; }};

std::string order_refusal(std::span<const char* const> listed) {
    try {
        core::py::members_in_order(listed);
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return "";
}

void member_list_matches_registrations() {
    const char* both[] = {"probe"};
    const char* missing[] = {"probe", "ghost"};
    const char* unlisted[] = {"other"};
    CHECK(order_refusal(both).empty());
    CHECK(order_refusal(missing) == "module member ghost is listed but no unit registers it");
    CHECK(order_refusal(unlisted) == "unlisted module member probe");
}

}  // namespace

void run_binding_tests() {
    Py_InitializeEx(0);
    constructor_arity_is_checked();
    member_list_matches_registrations();
}
