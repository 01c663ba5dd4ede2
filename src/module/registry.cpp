#include "module/registry.hpp"

#include <cstring>
#include <stdexcept>
#include <string>

namespace core::py {

namespace {
std::vector<RegisteredMember>& members() {
    static std::vector<RegisteredMember> list;
    return list;
}
}  // namespace

const std::vector<RegisteredMember>& registered_members() { return members(); }

std::vector<const RegisteredMember*> members_in_order(std::span<const char* const> listed) {
    for (const RegisteredMember& m : members()) {
        bool known = false;
        for (const char* name : listed) known = known || std::strcmp(name, m.name) == 0;
        if (!known) throw std::logic_error(std::string("unlisted module member ") + m.name);
    }
    std::vector<const RegisteredMember*> ordered;
    for (const char* name : listed) {
        const RegisteredMember* found = nullptr;
        for (const RegisteredMember& m : members()) {
            if (std::strcmp(m.name, name) == 0) found = &m;
        }
        if (found == nullptr) {
            throw std::logic_error(std::string("module member ") + name +
                                   " is listed but no unit registers it");
        }
        ordered.push_back(found);
    }
    return ordered;
}

Registration::Registration(const char* name, MemberFactory make) {
    members().push_back({name, make});
}

PyObject* new_function(PyObject* module, const Signature* sig, const char* text_signature,
                       PyCFunction fn, const char* doc) {
    // The definition must outlive the function object: it lives for the process.
    auto* docstring = new std::string(std::string(text_signature) + "\n--\n\n" + doc);
    auto* def =
        new PyMethodDef{sig->name.c_str(), fn, METH_FASTCALL | METH_KEYWORDS, docstring->c_str()};
    PyObject* module_name = PyModule_GetNameObject(module);
    if (module_name == nullptr) return nullptr;
    PyObject* f = PyCMethod_New(def, module, module_name, nullptr);
    Py_DECREF(module_name);
    return f;
}

}  // namespace core::py
