#include "core_object.hpp"

#include <string>

namespace core::arrays {

PyTypeObject* core_type(const char* name) {
    // Looked up on each call: a dict lookup, and _core may be re-imported.
    nb::object type = nb::module_::import_("_core").attr(name);
    return reinterpret_cast<PyTypeObject*>(type.ptr());  // _core's module keeps it alive
}

void refuse_class(nb::handle o, const char* arg, const char* name) {
    nb::str qualname = nb::steal<nb::str>(PyType_GetQualName(Py_TYPE(o.ptr())));
    const std::string message = std::string("argument '") + arg + "': '" + qualname.c_str() +
                                "' object cannot be converted to '" + name + "'";
    throw nb::type_error(message.c_str());
}

void refuse_borrow(bool exclusive) {
    PyErr_SetString(PyExc_RuntimeError,
                    exclusive ? "Already borrowed" : "Already mutably borrowed");
    throw nb::python_error();
}

}  // namespace core::arrays
