// One kernel, two builds, one choice per process.
//
// A kernel with vector lanes is a struct whose static member template
// run<V>(...) is written once on the lane vocabulary of lanes.hpp and marked
// always inline. On x86-64 it is compiled twice: for the baseline (V =
// Vector<2>, SSE2) and, in a function compiled for AVX2, for four lanes (V =
// Vector<4>). dispatch<Kernel>(...) picks one build on its first call, by
// asking the processor once, and keeps the choice as a function pointer, as
// Highway's export table does. Neither build fuses a multiply and an add
// (AVX2 does not include FMA, and contraction is off), so both give the same
// bits. A kernel whose lanes gain nothing from AVX2 says so with
// `static constexpr bool avx2 = false;` and always runs its baseline build.
// Elsewhere than x86-64 there is one build, the portable one.
#pragma once

#include <cstddef>
#include <utility>

#include "common/lanes.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#define LUMETRA_AVX2_PATHS 1
#if __has_include(<sys/platform/x86.h>)
// The C library's header declares its tests with C's _Bool, which GCC also
// accepts in C++ and Clang accepts only outside strict standard mode.
#if defined(__clang__) && !defined(_Bool)
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#endif
#else
#define LUMETRA_AVX2_PATHS 0
#endif

namespace lumetra::lanes {

// Whether code built for AVX2 may run here: the processor has it and the
// operating system keeps its registers. Where the C library reports the
// features it uses itself, its answer is taken, so that the baseline build
// can also be run on a processor with AVX2 (GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,
// which the tests use to compare both builds).
inline bool avx2() noexcept {
#if LUMETRA_AVX2_PATHS && defined(CPU_FEATURE_ACTIVE)
    return CPU_FEATURE_ACTIVE(AVX2);
#elif LUMETRA_AVX2_PATHS
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

template <class Kernel>
concept HasAvx2Build = !requires { Kernel::avx2; } || Kernel::avx2;

// The two builds, each a function of its own so that the AVX2 one can be
// compiled for AVX2 alone.
template <class Kernel, class... Args>
[[gnu::noinline]] decltype(auto) baseline_build(Args&&... args) {
    return Kernel::template run<Double2>(std::forward<Args>(args)...);
}

#if LUMETRA_AVX2_PATHS
template <class Kernel, class... Args>
[[gnu::noinline]] __attribute__((target("avx2"))) decltype(auto) avx2_build(Args&&... args) {
    return Kernel::template run<Vector<4>>(std::forward<Args>(args)...);
}
#endif

// Which build a kernel runs, made visible for tests: with the environment
// variable LUMETRA_REPORT_DISPATCH=1 the first call of each kernel writes one
// line on standard error, naming the kernel (`signature` is the
// __PRETTY_FUNCTION__ of kernel_signature<Kernel>) and "its avx2 build", "its
// baseline build" or "its only build, the baseline". Without it, nothing.
void report_dispatch(const char* signature, const char* build) noexcept;

template <class Kernel>
const char* kernel_signature() noexcept {
    return __PRETTY_FUNCTION__;
}

// Kernel::run with the build chosen for this process.
template <class Kernel, class... Args>
decltype(auto) dispatch(Args&&... args) {
#if LUMETRA_AVX2_PATHS
    if constexpr (HasAvx2Build<Kernel>) {
        static const auto build = [] {
            const bool wide = avx2();
            report_dispatch(kernel_signature<Kernel>(),
                            wide ? "its avx2 build" : "its baseline build");
            return wide ? &avx2_build<Kernel, Args...> : &baseline_build<Kernel, Args...>;
        }();
        return build(std::forward<Args>(args)...);
    } else
#endif
    {
        [[maybe_unused]] static const bool reported =
            (report_dispatch(kernel_signature<Kernel>(), "its only build, the baseline"), true);
        return baseline_build<Kernel, Args...>(std::forward<Args>(args)...);
    }
}

}  // namespace lumetra::lanes
