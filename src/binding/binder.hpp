// The generic call frame. A function is declared once, as
//
//     entry<"ses_sse", &smoothing::ses_sse, "y", "alpha">()
//
// and everything else follows from that declaration and the kernel's C++
// signature: the method-table entry, the doc string with its text signature,
// the binding of positional and keyword arguments, the conversion of each
// argument by the kind its kernel parameter has (arguments.hpp), the call,
// and the conversion of the result (results.hpp).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/arguments.hpp"
#include "binding/errors.hpp"
#include "binding/python.hpp"
#include "binding/results.hpp"
#include "binding/sequences.hpp"

namespace lumetra::binding {

// A string literal usable as a template argument.
template <std::size_t N>
struct Name {
    char text[N];
    constexpr Name(const char (&literal)[N]) { std::copy_n(literal, N, text); }
    static constexpr std::size_t length = N - 1;
};

// What the shared binding routine needs to know of a function.
struct Signature {
    const char* name;
    const char* const* params;
    Py_ssize_t count;
    PyObject** interned;  // the parameter names as interned strings, made on first need
};

// Fills slots[0..count) with borrowed references: positionals first, then
// keywords by name. Raises TypeError with the interpreter's wording for a
// surplus positional, an unknown or repeated keyword, or missing parameters.
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots);

namespace detail {

template <auto Kernel>
struct KernelTraits;

template <class R, class... A, R (*Kernel)(A...)>
struct KernelTraits<Kernel> {
    using Result = R;
    using Args = std::tuple<Arg<std::remove_cvref_t<A>>...>;
    static constexpr std::size_t arity = sizeof...(A);
};

// "<name>(<p1>, <p2>, ...)\n--\n\n": the interpreter takes the text signature
// from it and leaves the function without further documentation.
template <Name Function, Name... Params>
struct DocString {
    static constexpr std::size_t length =
        Function.length + 1 + (Params.length + ... + 0) + 2 * (sizeof...(Params) - 1) + 6;
    static constexpr std::array<char, length + 1> text = [] {
        std::array<char, length + 1> out{};
        std::size_t at = 0;
        auto put = [&](const char* s, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) out[at++] = s[i];
        };
        put(Function.text, Function.length);
        put("(", 1);
        std::size_t index = 0;
        auto param = [&](const char* s, std::size_t n) {
            if (index++ > 0) put(", ", 2);
            put(s, n);
        };
        (param(Params.text, Params.length), ...);
        put(")\n--\n\n", 6);
        out[at] = '\0';
        return out;
    }();
};

template <Name Function, Name... Params>
struct Declared {
    static constexpr const char* params[] = {Params.text...};
    static inline PyObject* interned[sizeof...(Params)] = {};
    static constexpr Signature signature{Function.text, params,
                                         static_cast<Py_ssize_t>(sizeof...(Params)), interned};
};

template <auto Kernel, Name Function, Name... Params>
PyObject* call(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    using Traits = KernelTraits<Kernel>;
    using Decl = Declared<Function, Params...>;
    constexpr std::size_t count = sizeof...(Params);

    // The common call passes every argument by position: the arguments are
    // then the slots themselves.
    PyObject* const* bound = args;
    PyObject* slots[count];
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames != nullptr || nargs != static_cast<Py_ssize_t>(count)) {
        if (!bind_arguments(Decl::signature, args, nargs, kwnames, slots)) return nullptr;
        bound = slots;
    }

    try {
        typename Traits::Args converted;
        // Runs step(argument, slot) in parameter order until one fails, whose
        // error then names its parameter.
        const auto in_order = [&](auto step) {
            return [&]<std::size_t... I>(std::index_sequence<I...>) {
                return ([&] {
                    if (step(std::get<I>(converted), bound[I])) return true;
                    prefix_argument_error(Decl::params[I]);
                    return false;
                }() && ...);
            }(std::make_index_sequence<count>{});
        };
        // Conversions may run Python code, which may change arrays already
        // accepted; so every array is checked and read again after the last
        // conversion, and from then on no Python code runs until the kernel
        // has returned.
        if (!in_order([](auto& arg, PyObject* object) { return arg.load(object); })) return nullptr;
        if (!in_order([](auto& arg, PyObject*) { return finish_arg(arg); })) return nullptr;

        auto result = [&]<std::size_t... I>(std::index_sequence<I...>) {
            return Kernel(std::get<I>(converted).get()...);
        }(std::make_index_sequence<count>{});
        return to_python(std::move(result));
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

}  // namespace detail

template <Name Function, auto Kernel, Name... Params>
constexpr PyMethodDef entry() {
    static_assert(sizeof...(Params) == detail::KernelTraits<Kernel>::arity,
                  "every kernel parameter needs exactly one name");
    return PyMethodDef{
        Function.text,
        reinterpret_cast<PyCFunction>(
            reinterpret_cast<void (*)()>(&detail::call<Kernel, Function, Params...>)),
        METH_FASTCALL | METH_KEYWORDS,
        detail::DocString<Function, Params...>::text.data(),
    };
}

}  // namespace lumetra::binding
