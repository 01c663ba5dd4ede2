#include "module/signature.hpp"

#include <new>
#include <stdexcept>

namespace core::py {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Default values are written as Python literals: ints, floats, None, True, False.
PyObject* parse_default(std::string_view literal) {
    std::string text(literal);
    if (text == "None") return Py_NewRef(Py_None);
    if (text == "True") return Py_NewRef(Py_True);
    if (text == "False") return Py_NewRef(Py_False);
    PyObject* value = PyLong_FromString(text.c_str(), nullptr, 10);
    if (value == nullptr) {
        PyErr_Clear();
        PyObject* str = PyUnicode_FromString(text.c_str());
        value = str ? PyFloat_FromString(str) : nullptr;
        Py_XDECREF(str);
    }
    if (value == nullptr) {
        PyErr_Clear();
        throw std::logic_error("unsupported default value in signature: " + text);
    }
    return value;
}

}  // namespace

const Signature* parse_signature(std::string_view owner, std::string_view text,
                                 std::string_view fallback_name) {
    auto* sig = new Signature;
    std::size_t open = text.find('(');
    std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        throw std::logic_error("malformed text signature: " + std::string(text));
    }
    sig->name = open == 0 ? std::string(fallback_name) : std::string(text.substr(0, open));
    sig->display = owner.empty() ? sig->name + "()" : std::string(owner) + "." + sig->name + "()";

    std::string_view params = text.substr(open + 1, close - open - 1);
    while (!params.empty()) {
        std::size_t comma = params.find(',');
        std::string_view param = trim(params.substr(0, comma));
        params = comma == std::string_view::npos ? std::string_view{} : params.substr(comma + 1);
        if (param == "$self") {
            sig->has_self = true;
            continue;
        }
        std::size_t eq = param.find('=');
        if (eq != std::string_view::npos) {
            sig->defaults.push_back(parse_default(trim(param.substr(eq + 1))));
            param = trim(param.substr(0, eq));
        } else if (!sig->defaults.empty()) {
            throw std::logic_error("required parameter after an optional one: " +
                                   std::string(text));
        }
        sig->names.emplace_back(param);
        PyObject* py_name = PyUnicode_InternFromString(sig->names.back().c_str());
        if (py_name == nullptr) throw std::runtime_error("cannot intern parameter name");
        sig->py_names.push_back(py_name);
    }
    return sig;
}

void check_signature_arity(const Signature& sig, std::size_t cpp_arity) {
    if (sig.size() != cpp_arity) {
        throw std::logic_error(sig.display + ": the text signature names " +
                               std::to_string(sig.size()) + " parameters, the C++ function takes " +
                               std::to_string(cpp_arity));
    }
}

void check_rebinding(const Signature* bound, const Signature* next) {
    if (bound != nullptr && bound->display != next->display) {
        throw std::logic_error(next->display + ": its C++ function is already bound as " +
                               bound->display);
    }
}

namespace {

bool too_many_positional(const Signature& sig, Py_ssize_t given) noexcept {
    const char* verb = given == 1 ? "was" : "were";
    if (sig.defaults.empty()) {
        PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                     sig.display.c_str(), static_cast<Py_ssize_t>(sig.size()), given, verb);
    } else {
        PyErr_Format(PyExc_TypeError,
                     "%s takes from %zd to %zd positional arguments but %zd %s given",
                     sig.display.c_str(), static_cast<Py_ssize_t>(sig.required()),
                     static_cast<Py_ssize_t>(sig.size()), given, verb);
    }
    return false;
}

bool missing_required(const Signature& sig, PyObject** out) noexcept try {
    std::vector<const std::string*> missing;
    for (std::size_t i = 0; i < sig.required(); ++i) {
        if (out[i] == nullptr) missing.push_back(&sig.names[i]);
    }
    std::string list;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) list += missing.size() == 2 ? " and " : ", ";
        if (i > 0 && i + 1 == missing.size() && missing.size() > 2) list += "and ";
        list += "'" + *missing[i] + "'";
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zd required positional %s: %s", sig.display.c_str(),
                 static_cast<Py_ssize_t>(missing.size()),
                 missing.size() == 1 ? "argument" : "arguments", list.c_str());
    return false;
} catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
}

// Index of the parameter named `key`, or -1. Interned names match by pointer.
Py_ssize_t find_parameter(const Signature& sig, PyObject* key) noexcept {
    for (std::size_t i = 0; i < sig.py_names.size(); ++i) {
        if (sig.py_names[i] == key) return static_cast<Py_ssize_t>(i);
    }
    for (std::size_t i = 0; i < sig.py_names.size(); ++i) {
        if (PyUnicode_Compare(sig.py_names[i], key) == 0) return static_cast<Py_ssize_t>(i);
    }
    PyErr_Clear();
    return -1;
}

}  // namespace

bool match_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** out) noexcept {
    const auto n = static_cast<Py_ssize_t>(sig.size());
    if (nargs > n) return too_many_positional(sig, nargs);
    for (Py_ssize_t i = 0; i < n; ++i) out[i] = i < nargs ? args[i] : nullptr;

    if (kwnames != nullptr) {
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            Py_ssize_t i = find_parameter(sig, key);
            if (i < 0) {
                PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                             sig.display.c_str(), key);
                return false;
            }
            if (out[i] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'",
                             sig.display.c_str(), key);
                return false;
            }
            out[i] = args[nargs + k];
        }
    }

    for (std::size_t i = 0; i < sig.required(); ++i) {
        if (out[i] == nullptr) return missing_required(sig, out);
    }
    for (std::size_t i = sig.required(); i < sig.size(); ++i) {
        if (out[i] == nullptr) out[i] = sig.defaults[i - sig.required()];
    }
    return true;
}

}  // namespace core::py
