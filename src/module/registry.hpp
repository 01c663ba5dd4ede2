// Units announce their module members here at load time; the module entry
// adds them in its fixed order when the module is imported.
#pragma once

#include <span>
#include <vector>

#include "module/thunks.hpp"

namespace core::py {

// Makes the member (a new reference), or returns nullptr with an error set.
using MemberFactory = PyObject* (*)(PyObject* module);

struct RegisteredMember {
    const char* name;
    MemberFactory make;
};

const std::vector<RegisteredMember>& registered_members();

// The registered members in the order of `listed`. Throws std::logic_error
// when a listed name has no registration (a unit left out of the build, or a
// registration with a misspelt name) or a registration is not listed: either
// would give a module that differs from its published contents.
std::vector<const RegisteredMember*> members_in_order(std::span<const char* const> listed);

// A namespace-scope `const Registration r{"name", factory};` in a unit's
// bind.cpp makes the member known to the module entry.
struct Registration {
    Registration(const char* name, MemberFactory make);
};

// A class member: the type object from a Class<T>(...).finish() expression.
inline PyObject* member(PyTypeObject* type) noexcept {
    return reinterpret_cast<PyObject*>(Py_XNewRef(type));
}

PyObject* new_function(PyObject* module, const Signature* sig, const char* text_signature,
                       PyCFunction fn, const char* doc);

// A module-level function bound to `module`.
template <auto F>
PyObject* function(PyObject* module, const char* text_signature, const char* doc = "") {
    const Signature* sig = parse_signature("", text_signature);
    Bound<F>::bind(sig);
    check_signature_arity(*sig, std::tuple_size_v<typename callable_traits<decltype(F)>::args>);
    return new_function(
        module, sig, text_signature,
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&function_thunk<F>)), doc);
}

}  // namespace core::py
