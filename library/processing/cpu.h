// What vector instructions the machine runs, for choosing inner loops, and
// how the files that hold vector kernels ask the compiler for them.
#pragma once

namespace orvix {

#if defined(__x86_64__) || defined(__i386__)
inline bool MachineHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

inline bool MachineHasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}

// Functions compiled for these sets whatever the build's own target.
#define ORVIX_AVX2 __attribute__((target("avx2,fma")))
#define ORVIX_AVX512 __attribute__((target("avx2,fma,avx512f,avx512bw")))
#else
inline bool MachineHasAvx2() { return false; }
inline bool MachineHasAvx512() { return false; }
#endif

// The widest of an engine's kernel sets (an enum with Portable, Avx2,
// Avx512 and Best) at most `wanted` that the machine runs.
template <typename Kernels>
Kernels WidestKernels(Kernels wanted) {
    if (wanted == Kernels::Portable || !MachineHasAvx2()) return Kernels::Portable;
    if ((wanted == Kernels::Avx512 || wanted == Kernels::Best) && MachineHasAvx512()) return Kernels::Avx512;
    return Kernels::Avx2;
}

}  // namespace orvix

// GCC 12's AVX-512 headers fill unused operands with deliberately undefined
// values, which its own uninitialised-use checks then report: kernels
// between these two markers are spared the warning.
#ifdef __clang__
#define ORVIX_AVX512_KERNELS_BEGIN _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")
#else
#define ORVIX_AVX512_KERNELS_BEGIN                                 \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wuninitialized\"") \
        _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#endif
#define ORVIX_AVX512_KERNELS_END _Pragma("GCC diagnostic pop")
