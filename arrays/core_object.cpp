#include "core_object.hpp"

#include <string>

#include "math_3d/mat4.hpp"
#include "math_3d/vec3.hpp"
#include "module/refusals.hpp"
#include "physics/world.hpp"
#include "sdf/scene.hpp"
#include "sdf_collision/collider.hpp"
#include "tiles/tile_cache.hpp"

namespace core::arrays {

namespace {

constexpr int kClassCount = 6;
PyTypeObject* g_types[kClassCount] = {};
PyObject* g_panic = nullptr;

template <class T>
void take(nb::handle core) {
    const char* name = CoreClass<T>::kName;
    nb::object type = nb::getattr(core, name, nb::none());
    bool ok = PyType_Check(type.ptr());
    if (ok) {
        auto* t = reinterpret_cast<PyTypeObject*>(type.ptr());
        nb::str qualname = nb::steal<nb::str>(PyType_GetQualName(t));
        ok = std::string(qualname.c_str()) == name &&
             t->tp_basicsize == static_cast<Py_ssize_t>(sizeof(py::Instance<T>));
    }
    if (!ok) {
        const std::string message =
            std::string("gfxcore.arrays cannot be used with the loaded _core: its class ") + name +
            " is not the one this build reads";
        throw nb::import_error(message.c_str());
    }
    g_types[static_cast<int>(CoreClass<T>::kId)] =
        reinterpret_cast<PyTypeObject*>(type.release().ptr());  // kept for good
}

}  // namespace

void take_core_classes(nb::handle core) {
    take<SdfCollider>(core);
    take<SdfScene>(core);
    take<Mat4x4>(core);
    take<Vec3>(core);
    take<PhysicsWorld>(core);
    take<TileCache>(core);
    nb::object panic = nb::getattr(core, "PanicException", nb::none());
    if (PyType_Check(panic.ptr()) &&
        PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(panic.ptr()),
                         reinterpret_cast<PyTypeObject*>(PyExc_BaseException)))
        g_panic = panic.release().ptr();
}

PyTypeObject* core_type(CoreClassId id) noexcept { return g_types[static_cast<int>(id)]; }

void refuse_class(nb::handle o, const char* arg, const char* name) {
    py::raise_cannot_convert(o.ptr(), name);
    py::prefix_argument_error(arg);
    throw nb::python_error();
}

void refuse_borrow(const char* text) {
    PyErr_SetString(PyExc_RuntimeError, text);
    throw nb::python_error();
}

void raise_fault(const char* text) noexcept {
    PyErr_SetString(g_panic != nullptr ? g_panic : PyExc_SystemError, text);
}

}  // namespace core::arrays
