// _core objects read and changed in place. `_core` lays an instance out as
// the object header, a borrow flag and the C++ value (module/instance.hpp,
// compiled into both modules from the same build, which the import checks).
// A class is recognised by its type object, taken from the imported _core,
// and borrowed exactly as _core's own methods borrow it: shared to read,
// exclusive to change, refused with the same RuntimeError on a conflict.
// Borrows are taken and given back with the interpreter lock held.
#pragma once

#include <nanobind/nanobind.h>

#include "module/instance.hpp"

namespace core {
class SdfCollider;
struct SdfScene;
struct Mat4x4;
struct Vec3;
class PhysicsWorld;
class TileCache;
}  // namespace core

namespace core::arrays {

namespace nb = nanobind;

// The Python name of each _core class this module reads.
template <class T>
struct CoreClass;
template <>
struct CoreClass<SdfCollider> {
    static constexpr const char* kName = "SdfCollider";
};
template <>
struct CoreClass<SdfScene> {
    static constexpr const char* kName = "SdfScene";
};
template <>
struct CoreClass<Mat4x4> {
    static constexpr const char* kName = "Mat4x4";
};
template <>
struct CoreClass<Vec3> {
    static constexpr const char* kName = "Vec3";
};
template <>
struct CoreClass<PhysicsWorld> {
    static constexpr const char* kName = "PhysicsWorld";
};
template <>
struct CoreClass<TileCache> {
    static constexpr const char* kName = "TileCache";
};

// The class `name` of the imported _core (kept for the life of the process).
PyTypeObject* core_type(const char* name);

// TypeError "argument 'arg': 'list' object cannot be converted to 'Name'",
// the wording _core uses for a wrong class.
[[noreturn]] void refuse_class(nb::handle o, const char* arg, const char* name);
[[noreturn]] void refuse_borrow(bool exclusive);

// `o` as a T held under its shared (Exclusive = false) or exclusive borrow
// until destroyed. Destroy it with the interpreter lock held.
template <class T, bool Exclusive = false>
class Held {
public:
    Held(nb::handle o, const char* arg) : object_(o.ptr()) {
        if (Py_TYPE(object_) != core_type(CoreClass<T>::kName))
            refuse_class(o, arg, CoreClass<T>::kName);
        py::BorrowFlag& flag = py::borrow_of(object_);
        if constexpr (Exclusive) {
            if (flag.state != 0) refuse_borrow(true);
            flag.state = -1;
        } else {
            if (flag.state < 0) refuse_borrow(false);
            ++flag.state;
        }
    }
    ~Held() {
        py::BorrowFlag& flag = py::borrow_of(object_);
        if constexpr (Exclusive)
            flag.state = 0;
        else
            --flag.state;
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    auto& get() const noexcept {
        auto& value = py::as_instance<T>(object_)->value;
        if constexpr (Exclusive)
            return value;
        else
            return std::as_const(value);
    }

private:
    PyObject* object_;  // the caller's argument keeps it alive
};

// A copy of a value class (Mat4x4, ...), taken at once, as _core takes one.
template <class T>
T copy_of(nb::handle o, const char* arg) {
    return Held<T>(o, arg).get();
}

}  // namespace core::arrays
