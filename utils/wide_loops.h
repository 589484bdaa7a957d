// SPDX-License-Identifier: BSD-2-Clause
// Hot loops are built twice, for the x86-64 baseline and for AVX2, and the
// better one is picked at load time. Both evaluate the same operations in the
// same order (AVX2 does not bring fused multiply-add, and the codec is built
// without contraction), so results are identical; only the vector width
// differs.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define VARNIC_WIDE_LOOPS __attribute__((target_clones("avx2", "default")))
#else
#define VARNIC_WIDE_LOOPS
#endif
