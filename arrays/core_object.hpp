// _core objects read and changed in place. `_core` lays an instance out as
// the object header, a borrow flag and the C++ value (module/instance.hpp,
// compiled into both modules from the same build, which the import checks).
// A class is recognised by its type object, found in the _core this module
// was imported with and checked then (name and instance size); later
// changes to sys.modules do not matter. Objects are borrowed exactly as
// _core's own methods borrow them (module/borrow.hpp): shared to read,
// exclusive to change, refused with the same RuntimeError on a conflict.
// Borrows are taken and given back with the interpreter lock held.
#pragma once

#include <utility>

#include <nanobind/nanobind.h>

#include "module/borrow.hpp"
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

// The _core classes this module reads, in the order of kCoreClassNames.
enum class CoreClassId { kSdfCollider, kSdfScene, kMat4x4, kVec3, kPhysicsWorld, kTileCache };

template <class T>
struct CoreClass;
template <>
struct CoreClass<SdfCollider> {
    static constexpr CoreClassId kId = CoreClassId::kSdfCollider;
    static constexpr const char* kName = "SdfCollider";
};
template <>
struct CoreClass<SdfScene> {
    static constexpr CoreClassId kId = CoreClassId::kSdfScene;
    static constexpr const char* kName = "SdfScene";
};
template <>
struct CoreClass<Mat4x4> {
    static constexpr CoreClassId kId = CoreClassId::kMat4x4;
    static constexpr const char* kName = "Mat4x4";
};
template <>
struct CoreClass<Vec3> {
    static constexpr CoreClassId kId = CoreClassId::kVec3;
    static constexpr const char* kName = "Vec3";
};
template <>
struct CoreClass<PhysicsWorld> {
    static constexpr CoreClassId kId = CoreClassId::kPhysicsWorld;
    static constexpr const char* kName = "PhysicsWorld";
};
template <>
struct CoreClass<TileCache> {
    static constexpr CoreClassId kId = CoreClassId::kTileCache;
    static constexpr const char* kName = "TileCache";
};

// Finds and checks the classes in `core` (the imported _core, its build
// already checked) and keeps them for the life of the process; ImportError
// when one is missing or not laid out as this build expects.
void take_core_classes(nb::handle core);

// The class found at import.
PyTypeObject* core_type(CoreClassId id) noexcept;

template <class T>
bool is_core(nb::handle o) noexcept {
    return Py_TYPE(o.ptr()) == core_type(CoreClass<T>::kId);
}

// TypeError "argument 'arg': 'list' object cannot be converted to 'Name'",
// the wording _core uses for a wrong class.
[[noreturn]] void refuse_class(nb::handle o, const char* arg, const char* name);
// RuntimeError with the borrow protocol's text.
[[noreturn]] void refuse_borrow(const char* text);

// `o` as a T held under its shared (Exclusive = false) or exclusive borrow
// until destroyed. Destroy it with the interpreter lock held.
template <class T, bool Exclusive = false>
class Held {
public:
    Held(nb::handle o, const char* arg) : object_(o.ptr()) {
        if (!is_core<T>(o)) refuse_class(o, arg, CoreClass<T>::kName);
        py::BorrowFlag& flag = py::borrow_of(object_);
        if (const char* refused = Exclusive ? py::try_exclusive(flag) : py::try_share(flag))
            refuse_borrow(refused);
    }
    ~Held() {
        py::BorrowFlag& flag = py::borrow_of(object_);
        if constexpr (Exclusive)
            py::release_exclusive(flag);
        else
            py::release_shared(flag);
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

// A copy of a value class (Mat4x4, ...), taken at once, as _core takes one:
// only a writer's borrow refuses it.
template <class T>
T copy_of(nb::handle o, const char* arg) {
    if (!is_core<T>(o)) refuse_class(o, arg, CoreClass<T>::kName);
    if (const char* refused = py::can_copy(py::borrow_of(o.ptr()))) refuse_borrow(refused);
    return py::as_instance<T>(o.ptr())->value;
}

// Raises _core's PanicException with `text` (an internal fault).
void raise_fault(const char* text) noexcept;

}  // namespace core::arrays
