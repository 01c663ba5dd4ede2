#include "module/instance.hpp"

#include <string>

namespace core::py {

PyObject* allocate_instance(PyTypeObject* type, std::size_t size) noexcept {
    if (type == nullptr) {
        raise_panic("unwrap of a failed result: the class of the result is not registered");
        return nullptr;
    }
    auto* o = static_cast<PyObject*>(PyObject_Malloc(size));
    if (o == nullptr) {
        try {
            std::string text = "unwrap of a failed result: cannot allocate a new ";
            text += type->tp_name;
            text += " instance (MemoryError: out of memory)";
            raise_panic(text.c_str());
        } catch (...) {
            raise_panic(
                "unwrap of a failed result: cannot allocate a new instance "
                "(MemoryError: out of memory)");
        }
        return nullptr;
    }
    return PyObject_Init(o, type);
}

void free_instance(PyObject* o) noexcept {
    PyTypeObject* type = Py_TYPE(o);
    PyObject_Free(o);
    Py_DECREF(type);  // heap types are held by their instances
}

}  // namespace core::py
