#include "module/thunks.hpp"

namespace core::py {

PyObject* not_implemented() noexcept {
    PyErr_Clear();
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject* compare_int_like(int64_t value, PyObject* other, const int64_t* other_member,
                           int op) noexcept {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    int64_t v = 0;
    if (other_member != nullptr) {
        v = *other_member;
    } else {
        if (!PyIndex_Check(other)) Py_RETURN_NOTIMPLEMENTED;
        long long read = PyLong_AsLongLong(other);  // calls __index__ where needed
        if (read == -1 && PyErr_Occurred()) {
            PyErr_Clear();  // out of range or a failing __index__: not comparable
            Py_RETURN_NOTIMPLEMENTED;
        }
        v = read;
    }
    return Py_NewRef((value == v) == (op == Py_EQ) ? Py_True : Py_False);
}

}  // namespace core::py
