// QUORLIN_METRIC_KERNEL marks the hot per-pixel loops. On x86-64 Linux with GCC
// they are compiled three times (AVX-512, AVX2+FMA, baseline) and the best
// version for the running CPU is picked at load time, so the tool stays
// portable while std::fma becomes one instruction where the CPU has one.
// Elsewhere (arm64 has FMA in its baseline) it expands to nothing.
//
// Whatever version runs, results are identical: every kernel spells out its
// float operations (std::fma where a fused multiply-add is wanted, plain
// operators otherwise) and the library is built with -ffp-contract=off.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(QUORLIN_METRIC_NO_MULTIVERSION)
#define QUORLIN_METRIC_KERNEL __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define QUORLIN_METRIC_KERNEL
#endif
