// Declares a class's Python surface as a table and creates its type object:
//
//   Class<Vec2>("Vec2", "(x, y)")
//       .constructor<&make_vec2>()
//       .field<&Vec2::x>("x")
//       .method<&Vec2::dot>("dot($self, other)")
//       .add<&Vec2::operator+>()
//       .repr<&repr>()
//       .finish();
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "module/thunks.hpp"

namespace core::py {

// The non-template part: collects slots, methods and fields and creates the
// type with PyType_FromSpec. Its storage lives as long as the type, i.e. for
// the rest of the process.
class TypeBuilder {
public:
    TypeBuilder(const char* name, const char* ctor_signature, const char* doc,
                std::size_t basicsize, destructor dealloc, PyTypeObject** type_cell,
                const char** name_cell);

    const Signature* method_signature(const char* text) const;
    const Signature* constructor_signature() const;
    void add_method(const Signature* sig, const char* text_signature, PyCFunction fn, int flags,
                    const char* doc);
    void add_field(const char* name, getter get, setter set);
    void add_slot(int slot, void* fn);
    void add_constant(const char* name, PyObject* (*make)());
    void set_constructor(vectorcallfunc fn);

    // Creates the type once and fills the cells (the reference is kept for
    // the process). On failure returns nullptr with RuntimeError "An error
    // occurred while initializing class {}" and leaves the cells empty.
    PyTypeObject* create();

private:
    std::string name_;
    std::string qualified_name_;
    std::string doc_;
    std::string ctor_signature_;
    bool has_constructor_ = false;
    std::size_t basicsize_;
    std::deque<std::string> docs_;
    std::vector<PyMethodDef> methods_;
    std::vector<PyGetSetDef> fields_;
    std::vector<PyType_Slot> slots_;
    std::vector<std::pair<const char*, PyObject* (*)()>> constants_;
    vectorcallfunc vectorcall_ = nullptr;
    PyTypeObject** type_cell_;
    const char** name_cell_;
};

// A class attribute of an enumeration: the member holding V.
template <class E, E V>
PyObject* enum_constant() {
    return new_instance<E>(V);
}

// Each unit writes `std::string repr(const T&)` next to its type; the
// overload set cannot be named as a template argument, this can.
template <class T>
std::string repr_of(const T& v) {
    return repr(v);
}

template <class T>
class Class {
public:
    // `ctor_signature` is "(x, y)" for a class with a constructor, nullptr for
    // one without; `doc` is the class documentation.
    explicit Class(const char* name, const char* ctor_signature = nullptr, const char* doc = "")
        : builder_(*new TypeBuilder(name, ctor_signature, doc, sizeof(Instance<T>),
                                    &dealloc_instance<T>, &ClassInfo<T>::type,
                                    &ClassInfo<T>::name)) {}

    // F builds the value from the parameters the class's text signature
    // names; a count that differs is refused here, when the module is
    // imported, since the thunk reads one argument slot per parameter of F.
    template <auto F>
    Class& constructor() {
        const Signature* sig = builder_.constructor_signature();
        check_signature_arity(*sig, std::tuple_size_v<typename callable_traits<decltype(F)>::args>);
        Bound<F>::bind(sig);
        builder_.set_constructor(&constructor_thunk<F>);
        return *this;
    }

    template <auto M>
    Class& field(const char* name) {
        builder_.add_field(name, &field_getter<M>, &field_setter<M>);
        return *this;
    }

    // An instance method; `text_signature` starts with "name($self".
    template <auto F>
    Class& method(const char* text_signature, const char* doc = "") {
        const Signature* sig = builder_.method_signature(text_signature);
        Bound<F>::bind(sig);
        constexpr std::size_t n = std::tuple_size_v<typename method_traits<decltype(F)>::args>;
        check_signature_arity(*sig, n);
        if constexpr (n == 0) {
            builder_.add_method(sig, text_signature,
                                reinterpret_cast<PyCFunction>(&noargs_thunk<F>), METH_NOARGS, doc);
        } else {
            builder_.add_method(
                sig, text_signature,
                reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_thunk<F>)),
                METH_FASTCALL | METH_KEYWORDS, doc);
        }
        return *this;
    }

    template <auto F>
    Class& static_method(const char* text_signature, const char* doc = "") {
        const Signature* sig = builder_.method_signature(text_signature);
        Bound<F>::bind(sig);
        check_signature_arity(*sig, std::tuple_size_v<typename callable_traits<decltype(F)>::args>);
        builder_.add_method(
            sig, text_signature,
            reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&function_thunk<F>)),
            METH_FASTCALL | METH_KEYWORDS | METH_STATIC, doc);
        return *this;
    }

    template <auto F>
    Class& add() {
        return slot(Py_nb_add, &binary_slot<F>);
    }
    template <auto F>
    Class& sub() {
        return slot(Py_nb_subtract, &binary_slot<F>);
    }
    template <auto F>
    Class& mul() {
        return slot(Py_nb_multiply, &binary_slot<F>);
    }
    template <auto F>
    Class& neg() {
        return slot(Py_nb_negative, &unary_slot<F>);
    }
    template <auto F>
    Class& repr() {
        return slot(Py_tp_repr, &unary_slot<F>);
    }
    // The `repr(const T&)` found beside T.
    Class& repr() { return slot(Py_tp_repr, &unary_slot<&repr_of<T>>); }

    // An int-like enumeration: `int()` gives ToInt(value) (`int64_t ToInt(const T&)`),
    // `==`/`!=` compare that value, and members are not hashable.
    template <auto ToInt>
    Class& int_like() {
        slot(Py_nb_int, &int_like_int<ToInt>);
        slot(Py_tp_richcompare, &int_like_compare<ToInt>);
        return slot(Py_tp_hash, &PyObject_HashNotImplemented);
    }

    // A class attribute holding an instance, made by `make` once the type exists.
    Class& constant(const char* name, PyObject* (*make)()) {
        builder_.add_constant(name, make);
        return *this;
    }

    // Creates the type and fills its cell. Returns nullptr with the Python
    // error set on failure.
    PyTypeObject* finish() { return builder_.create(); }

private:
    template <class Fn>
    Class& slot(int id, Fn fn) {
        builder_.add_slot(id, reinterpret_cast<void*>(fn));
        return *this;
    }
    TypeBuilder& builder_;
};

}  // namespace core::py
