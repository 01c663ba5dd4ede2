// A function's parameters, parsed once from its text signature, and the
// matching of a call's positional and keyword arguments against them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "module/python.hpp"

namespace core::py {

struct Signature {
    std::string name;                 // "dot"
    std::string display;              // "Vec2.dot()", "solve_ik()"
    std::vector<std::string> names;   // parameter names, receiver excluded
    std::vector<PyObject*> py_names;  // the same, interned
    std::vector<PyObject*> defaults;  // values of the trailing optional parameters
    bool has_self = false;

    std::size_t size() const { return names.size(); }
    std::size_t required() const { return names.size() - defaults.size(); }
};

// Parses "dot($self, other)" or "solve_ik(a, max_iter=10)"; `owner` is the
// class name ("" for module functions). When `text` starts with "(" the
// function is named `fallback_name`. Lives for the process.
const Signature* parse_signature(std::string_view owner, std::string_view text,
                                 std::string_view fallback_name = "");

// Refuses (std::logic_error) a binding whose text signature names another
// number of parameters than the C++ function takes (receiver excluded). Only
// the count is compared: names cannot be read from C++.
void check_signature_arity(const Signature& sig, std::size_t cpp_arity);

// Refuses (std::logic_error) to give a function that already has a
// signature a different one.
void check_rebinding(const Signature* bound, const Signature* next);

// Fills out[0..sig.size()) with borrowed references from the call: positional
// arguments, then keywords, then defaults. Returns false with TypeError set.
bool match_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** out) noexcept;

}  // namespace core::py
