// The thin per-binding thunks CPython calls. Each one matches arguments with
// the shared matcher, borrows the receiver, converts the arguments by their
// traits, calls the plain C++ function and converts the result. Everything
// that is not specific to the C++ signature lives in non-template code.
#pragma once

#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "module/convert.hpp"
#include "module/signature.hpp"

namespace core::py {

// ---- what a C++ callable looks like ----------------------------------------

// A bound method: a member function (const = shared borrow, else exclusive),
// or a free function whose first parameter is the receiver (`const T&` =
// shared, `T&` = exclusive). A plain function has no receiver.
template <class F>
struct callable_traits;

template <class R, class... A>
struct callable_traits<R (*)(A...)> {
    using result = R;
    using args = std::tuple<A...>;
};
template <class R, class... A>
struct callable_traits<R (*)(A...) noexcept> : callable_traits<R (*)(A...)> {};

template <class F>
struct method_traits;

template <class R, class C, class... A>
struct method_traits<R (C::*)(A...) const> {
    using self = C;
    using result = R;
    using args = std::tuple<A...>;
    static constexpr bool exclusive = false;
};
template <class R, class C, class... A>
struct method_traits<R (C::*)(A...)> : method_traits<R (C::*)(A...) const> {
    static constexpr bool exclusive = true;
};
template <class R, class C, class... A>
struct method_traits<R (C::*)(A...) const noexcept> : method_traits<R (C::*)(A...) const> {};
template <class R, class C, class... A>
struct method_traits<R (C::*)(A...) noexcept> : method_traits<R (C::*)(A...)> {};

template <class R, class S, class... A>
struct method_traits<R (*)(S&, A...)> {
    using self = std::remove_const_t<S>;
    using result = R;
    using args = std::tuple<A...>;
    static constexpr bool exclusive = !std::is_const_v<S>;
};
template <class R, class S, class... A>
struct method_traits<R (*)(S&, A...) noexcept> : method_traits<R (*)(S&, A...)> {};

template <class Tuple>
struct arg_values;
template <class... A>
struct arg_values<std::tuple<A...>> {
    using type = std::tuple<std::decay_t<A>...>;
};

// ---- per-binding state ------------------------------------------------------

// The parsed signature of the binding of F, set when F is bound. One C++
// function serves one Python name: binding it again under another name would
// give the first one the second one's error messages, so that is refused.
template <auto F>
struct Bound {
    static inline const Signature* sig = nullptr;

    static const Signature* bind(const Signature* s) {
        check_rebinding(sig, s);
        return sig = s;
    }
};

// ---- conversion and call ------------------------------------------------------

template <class T>
inline bool convert_argument(PyObject* o, T& out, const Signature& sig, std::size_t i) noexcept {
    if (from_python<T>::convert(o, out)) [[likely]]
        return true;
    prefix_argument_error(sig.names[i].c_str());
    return false;
}

// Runs `body`, which returns a new reference or nullptr with the error set,
// and turns a C++ exception leaving it into the Python one. Everything that
// may allocate or throw on the way from arguments to result runs inside:
// argument values, the call, the result conversion.
template <class Body>
inline PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        raise_from_cpp_exception();
        return nullptr;
    }
}

template <class R, class Call>
inline PyObject* result_of(Call&& call) {
    if constexpr (std::is_void_v<R>) {
        call();
        Py_RETURN_NONE;
    } else {
        return to_python<std::decay_t<R>>::convert(call());
    }
}

// Converts slots[0..n) into the parameter types of F and calls it, with
// the receiver's value first when there is one.
template <auto F, class Args, class... Self, std::size_t... I>
inline PyObject* convert_and_call(PyObject* const* slots, const Signature& sig,
                                  std::index_sequence<I...>, Self&... self) noexcept {
    return guarded([&]() -> PyObject* {
        typename arg_values<Args>::type values;
        if (!(convert_argument(slots[I], std::get<I>(values), sig, I) && ...)) return nullptr;
        using R = decltype(std::invoke(F, self..., std::move(std::get<I>(values))...));
        return result_of<R>(
            [&]() -> R { return std::invoke(F, self..., std::move(std::get<I>(values))...); });
    });
}

// Positional calls with exactly the right count skip the matcher.
template <std::size_t N>
inline PyObject* const* match(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames, PyObject** buffer) noexcept {
    if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(N)) [[likely]]
        return args;
    return match_arguments(sig, args, nargs, kwnames, buffer) ? buffer : nullptr;
}

// ---- thunks ------------------------------------------------------------------

// METH_FASTCALL | METH_KEYWORDS method with a receiver.
template <auto F>
PyObject* method_thunk(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    using T = method_traits<decltype(F)>;
    using Args = typename T::args;
    constexpr std::size_t N = std::tuple_size_v<Args>;
    PyObject* buffer[N > 0 ? N : 1];
    const Signature& sig = *Bound<F>::sig;
    PyObject* const* slots = match<N>(sig, args, nargs, kwnames, buffer);
    if (slots == nullptr) return nullptr;
    Borrow<T::exclusive> borrow(borrow_of(self));
    if (!borrow) return nullptr;
    auto& value = as_instance<typename T::self>(self)->value;
    return convert_and_call<F, Args>(slots, sig, std::make_index_sequence<N>{}, value);
}

// METH_NOARGS method: CPython has already refused any argument.
template <auto F>
PyObject* noargs_thunk(PyObject* self, PyObject*) noexcept {
    using T = method_traits<decltype(F)>;
    Borrow<T::exclusive> borrow(borrow_of(self));
    if (!borrow) return nullptr;
    auto& value = as_instance<typename T::self>(self)->value;
    using R = decltype(std::invoke(F, value));
    return guarded([&] { return result_of<R>([&]() -> R { return std::invoke(F, value); }); });
}

// Static method or module-level function (METH_FASTCALL | METH_KEYWORDS).
template <auto F>
PyObject* function_thunk(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) noexcept {
    using Args = typename callable_traits<decltype(F)>::args;
    constexpr std::size_t N = std::tuple_size_v<Args>;
    PyObject* buffer[N > 0 ? N : 1];
    const Signature& sig = *Bound<F>::sig;
    PyObject* const* slots = match<N>(sig, args, nargs, kwnames, buffer);
    if (slots == nullptr) return nullptr;
    return convert_and_call<F, Args>(slots, sig, std::make_index_sequence<N>{});
}

// A constructor called through the type's vectorcall slot. F builds the value.
template <auto F>
PyObject* constructor_thunk(PyObject*, PyObject* const* args, std::size_t nargsf,
                            PyObject* kwnames) noexcept {
    return function_thunk<F>(nullptr, args, PyVectorcall_NARGS(nargsf), kwnames);
}

// Operator slots: the left operand must be an instance of the class and the
// right one must convert; any failure answers NotImplemented.
PyObject* not_implemented() noexcept;  // clears the pending error

template <auto F>
PyObject* binary_slot(PyObject* a, PyObject* b) noexcept {
    using T = method_traits<decltype(F)>;
    using Self = typename T::self;
    using Arg = std::decay_t<std::tuple_element_t<0, typename T::args>>;
    if (!is_instance<Self>(a)) return not_implemented();
    Borrow<T::exclusive> borrow(borrow_of(a));
    if (!borrow) return not_implemented();
    auto& value = as_instance<Self>(a)->value;
    return guarded([&]() -> PyObject* {
        Arg other;
        if (!from_python<Arg>::convert(b, other)) return not_implemented();
        using R = decltype(std::invoke(F, value, std::move(other)));
        return result_of<R>([&]() -> R { return std::invoke(F, value, std::move(other)); });
    });
}

template <auto F>
PyObject* unary_slot(PyObject* a) noexcept {
    return noargs_thunk<F>(a, nullptr);
}

// Int-like enumerations: `==` and `!=` against a member (`other_member`
// non-null) or anything the integer protocol reads as a signed 64-bit value;
// NotImplemented for everything else, ordering included.
PyObject* compare_int_like(int64_t value, PyObject* other, const int64_t* other_member,
                           int op) noexcept;

template <auto ToInt>
PyObject* int_like_int(PyObject* self) noexcept {
    using T = typename method_traits<decltype(ToInt)>::self;
    return guarded([&] { return to_python<int64_t>::convert(ToInt(as_instance<T>(self)->value)); });
}

template <auto ToInt>
PyObject* int_like_compare(PyObject* a, PyObject* b, int op) noexcept {
    using T = typename method_traits<decltype(ToInt)>::self;
    if (!is_instance<T>(a)) Py_RETURN_NOTIMPLEMENTED;
    return guarded([&] {
        int64_t member = 0;
        const bool is_member = is_instance<T>(b);
        if (is_member) member = ToInt(as_instance<T>(b)->value);
        return compare_int_like(ToInt(as_instance<T>(a)->value), b, is_member ? &member : nullptr,
                                op);
    });
}

// Field get/set from a member pointer; the closure is the field's name.
template <class M>
struct member_traits;
template <class C, class V>
struct member_traits<V C::*> {
    using owner = C;
    using value = V;
};

// The field is copied out before anything can run, so a shared borrow only
// has to be possible, not held.
template <auto M>
PyObject* field_getter(PyObject* self, void*) noexcept {
    using T = member_traits<decltype(M)>;
    if (can_copy(borrow_of(self)) != nullptr) [[unlikely]] {
        raise_already_mutably_borrowed();
        return nullptr;
    }
    return to_python<typename T::value>::convert(as_instance<typename T::owner>(self)->value.*M);
}

template <auto M>
int field_setter(PyObject* self, PyObject* v, void* name) noexcept {
    using T = member_traits<decltype(M)>;
    if (v == nullptr) return raise_cannot_delete() ? 0 : -1;
    PyObject* done = guarded([&]() -> PyObject* {
        typename T::value converted;
        if (!from_python<typename T::value>::convert(v, converted)) {
            prefix_argument_error(static_cast<const char*>(name));
            return nullptr;
        }
        Borrow<true> borrow(borrow_of(self));
        if (!borrow) return nullptr;
        as_instance<typename T::owner>(self)->value.*M = std::move(converted);
        return Py_None;  // not a new reference: only marks success
    });
    return done != nullptr ? 0 : -1;
}

}  // namespace core::py
