#include "module/class_builder.hpp"

#include <stdexcept>

namespace core::py {

namespace {

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    PyObject* name = PyType_GetName(type);
    if (name == nullptr) return nullptr;
    PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name);
    Py_DECREF(name);
    return nullptr;
}

// `Vec2.__new__(Vec2, ...)` and other tuple-and-dict calls take the same
// path as `Vec2(...)`: the type's vectorcall slot.
PyObject* constructor_via_vectorcall(PyTypeObject* type, PyObject* args,
                                     PyObject* kwargs) noexcept {
    return PyVectorcall_Call(reinterpret_cast<PyObject*>(type), args, kwargs);
}

}  // namespace

TypeBuilder::TypeBuilder(const char* name, const char* ctor_signature, const char* doc,
                         std::size_t basicsize, destructor dealloc, PyTypeObject** type_cell,
                         const char** name_cell)
    : name_(name),
      // The classes report the module `builtins`, as they always have:
      // their __module__ and pickling by reference are public behaviour.
      qualified_name_(std::string("builtins.") + name),
      basicsize_(basicsize),
      type_cell_(type_cell),
      name_cell_(name_cell) {
    // The internal docstring carries the constructor's text signature, from
    // which the interpreter derives __text_signature__ and __doc__.
    if (ctor_signature != nullptr) {
        has_constructor_ = true;
        ctor_signature_ = ctor_signature;
        doc_ = name_ + ctor_signature_ + "\n--\n\n" + doc;
    } else {
        doc_ = doc;
    }
    slots_.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc)});
}

const Signature* TypeBuilder::method_signature(const char* text) const {
    return parse_signature(name_, text);
}

const Signature* TypeBuilder::constructor_signature() const {
    if (!has_constructor_) throw std::logic_error(name_ + " has no constructor signature");
    return parse_signature(name_, ctor_signature_, "__new__");
}

void TypeBuilder::add_method(const Signature* sig, const char* text_signature, PyCFunction fn,
                             int flags, const char* doc) {
    docs_.push_back(std::string(text_signature) + "\n--\n\n" + doc);
    methods_.push_back({sig->name.c_str(), fn, flags, docs_.back().c_str()});
}

void TypeBuilder::add_field(const char* name, getter get, setter set) {
    fields_.push_back({name, get, set, nullptr, const_cast<char*>(name)});
}

void TypeBuilder::add_slot(int slot, void* fn) { slots_.push_back({slot, fn}); }

void TypeBuilder::add_constant(const char* name, PyObject* (*make)()) {
    constants_.emplace_back(name, make);
}

void TypeBuilder::set_constructor(vectorcallfunc fn) { vectorcall_ = fn; }

PyTypeObject* TypeBuilder::create() {
    if (*type_cell_ != nullptr) return *type_cell_;
    if (!doc_.empty()) slots_.push_back({Py_tp_doc, const_cast<char*>(doc_.c_str())});
    if (vectorcall_ != nullptr) {
        slots_.push_back({Py_tp_new, reinterpret_cast<void*>(&constructor_via_vectorcall)});
    } else {
        slots_.push_back({Py_tp_new, reinterpret_cast<void*>(&no_constructor)});
    }
    methods_.push_back({nullptr, nullptr, 0, nullptr});
    slots_.push_back({Py_tp_methods, methods_.data()});
    fields_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    slots_.push_back({Py_tp_getset, fields_.data()});
    slots_.push_back({0, nullptr});

    PyType_Spec type_spec{qualified_name_.c_str(), static_cast<int>(basicsize_), 0,
                          Py_TPFLAGS_DEFAULT, slots_.data()};
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    if (type == nullptr) {
        raise_runtime_error_from("An error occurred while initializing class " + name_,
                                 py::take_exception());
        return nullptr;
    }
    type->tp_vectorcall = vectorcall_;
    *type_cell_ = type;
    *name_cell_ = name_.c_str();

    for (auto& [attr, make] : constants_) {
        PyObject* value = make();
        if (value == nullptr) {
            raise_runtime_error_from(
                "An error occurred while initializing `" + name_ + "." + attr + "`",
                py::take_exception());
        } else if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), attr, value) < 0) {
            raise_runtime_error_from(
                "An error occurred while initializing `" + name_ + ".__dict__`",
                py::take_exception());
        }
        Py_XDECREF(value);
        if (PyErr_Occurred()) {
            raise_runtime_error_from("An error occurred while initializing class " + name_,
                                     py::take_exception());
            *type_cell_ = nullptr;
            *name_cell_ = nullptr;
            Py_DECREF(type);
            return nullptr;
        }
    }
    return type;
}

}  // namespace core::py
