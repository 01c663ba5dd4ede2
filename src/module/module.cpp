// The module entry: claims the process for one interpreter, creates the
// module once and adds every member in the fixed public order.
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/interrupt.hpp"
#include "module/registry.hpp"

namespace core::py {
namespace {

// The public contents of the module, in the order of `__all__`.
constexpr const char* kContents[] = {
    "convex_hull",
    "bounding_box",
    "pixel_edge_points",
    "solve_ik",
    "compute_bone_lengths",
    "Vec2",
    "AABB",
    "compile_node_graph",
    "lz4_compress",
    "lz4_decompress",
    "compute_layout",
    "generate_wgsl_struct",
    "TileCache",
    "Vec3",
    "Vec4",
    "Mat4x4",
    "Quaternion",
    "SdfPrimitive",
    "SdfScene",
    "BodyType",
    "RigidBody",
    "PhysicsWorld",
    "SdfCollider",
};

std::atomic<int64_t> g_interpreter{-1};
PyObject* g_module = nullptr;

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "",
    0,  // no per-module state; 0 (not -1) makes a re-import call us again
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Appends `name` to `__all__` (created when missing) and sets the attribute.
// Steals `member`.
bool add_member(PyObject* module, const char* name, PyObject* member) {
    if (member == nullptr) return false;
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            Py_DECREF(member);
            return false;
        }
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            Py_DECREF(member);
            return false;
        }
    } else if (!PyList_Check(all)) {
        PyErr_SetString(PyExc_TypeError, "`__all__` must be a list");
        Py_DECREF(all);
        Py_DECREF(member);
        return false;
    }
    PyObject* py_name = PyUnicode_FromString(name);
    bool ok = py_name != nullptr && PyList_Append(all, py_name) == 0 &&
              PyObject_SetAttr(module, py_name, member) == 0;
    Py_XDECREF(py_name);
    Py_DECREF(all);
    Py_DECREF(member);
    return ok;
}

bool register_members(PyObject* module) {
    try {
        for (const RegisteredMember* m : members_in_order(kContents)) {
            if (!add_member(module, m->name, m->make(module))) return false;
        }
        return true;
    } catch (...) {
        raise_from_cpp_exception();
        return false;
    }
}

}  // namespace
}  // namespace core::py

PyMODINIT_FUNC PyInit__core() {
    using namespace core::py;
    int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id < 0) return nullptr;
    int64_t expected = -1;
    if (!g_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "_core does not support sub-interpreters: it was already imported by "
                        "another interpreter in this process");
        return nullptr;
    }
    if (g_module != nullptr) return Py_NewRef(g_module);
    core::interrupt_requested = []() noexcept { return PyErr_CheckSignals() != 0; };

    PyObject* module = PyModule_Create(&g_definition);
    if (module == nullptr) return nullptr;
    if (!register_members(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    g_module = module;
    return Py_NewRef(module);
}
