// How a native value lives inside a Python object: the object header, a borrow
// flag and the value inline. One type-object cell per C++ type.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "module/borrow.hpp"
#include "module/raise.hpp"
#include "module/python.hpp"

namespace core::py {

inline bool acquire_shared(BorrowFlag& f) noexcept {
    if (try_share(f) != nullptr) return raise_already_mutably_borrowed();
    return true;
}

inline bool acquire_exclusive(BorrowFlag& f) noexcept {
    if (try_exclusive(f) != nullptr) return raise_already_borrowed();
    return true;
}

// Holds a shared (Exclusive = false) or exclusive borrow for a scope.
template <bool Exclusive>
class Borrow {
public:
    explicit Borrow(BorrowFlag& f) noexcept
        : flag_(f), ok_(Exclusive ? acquire_exclusive(f) : acquire_shared(f)) {}
    ~Borrow() {
        if (!ok_) return;
        if constexpr (Exclusive)
            release_exclusive(flag_);
        else
            release_shared(flag_);
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    explicit operator bool() const noexcept { return ok_; }

private:
    BorrowFlag& flag_;
    bool ok_;
};

struct InstanceHead {
    PyObject_HEAD BorrowFlag borrow;
};

template <class T>
struct Instance : InstanceHead {
    T value;
};

inline BorrowFlag& borrow_of(PyObject* o) noexcept {
    return reinterpret_cast<InstanceHead*>(o)->borrow;
}

// The type-object cell of a bound class, filled once when the class is built.
template <class T>
struct ClassInfo {
    static inline PyTypeObject* type = nullptr;
    static inline const char* name = nullptr;
};

template <class T>
inline Instance<T>* as_instance(PyObject* o) noexcept {
    return static_cast<Instance<T>*>(reinterpret_cast<InstanceHead*>(o));
}

template <class T>
inline bool is_instance(PyObject* o) noexcept {
    return Py_TYPE(o) == ClassInfo<T>::type;
}

// Memory for an instance of `type` (`size` bytes) with its object header set
// and nothing else: the caller constructs the borrow flag and the value.
// Without a registered class or memory it raises PanicException.
PyObject* allocate_instance(PyTypeObject* type, std::size_t size) noexcept;
// Gives back an instance's memory and its reference to the type. The value
// is not touched: the caller has destroyed it already, or never built it.
void free_instance(PyObject* o) noexcept;

// A new instance holding `value`, made without calling the class's
// constructor (results of calls and class constants).
template <class T, class V>
PyObject* new_instance(V&& value) noexcept {
    PyObject* o = allocate_instance(ClassInfo<T>::type, sizeof(Instance<T>));
    if (o == nullptr) return nullptr;
    auto* inst = as_instance<T>(o);
    inst->borrow = BorrowFlag{};
    try {
        new (&inst->value) T(std::forward<V>(value));  // a copy may allocate
    } catch (...) {
        free_instance(o);
        raise_from_cpp_exception();
        return nullptr;
    }
    return o;
}

template <class T>
void dealloc_instance(PyObject* o) noexcept {
    as_instance<T>(o)->value.~T();
    free_instance(o);
}

}  // namespace core::py
