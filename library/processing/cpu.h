// What vector instructions the machine runs, for choosing inner loops.
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
#else
inline bool MachineHasAvx2() { return false; }
inline bool MachineHasAvx512() { return false; }
#endif

}  // namespace orvix
