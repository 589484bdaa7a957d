// SPDX-License-Identifier: BSD-2-Clause
// Hot loops are built twice, for the baseline (x86-64, or SSE2 on 32-bit Windows) and for AVX2,
// and the better one is picked at run time. Both evaluate the same operations in the same order
// (AVX2 does not bring fused multiply-add, and the codec is built without contraction), so
// results are identical; only the vector width differs.
//
//   VARNIC_WIDE_LOOP(void, name, (const float* x, std::uint32_t n), (x, n)) { ...body... }
//
// The arguments are named twice because Windows has no loader-resolved functions (GNU ifunc,
// which target_clones relies on): there the body is inlined into two wrappers and a function
// pointer, chosen once from the processor's and the system's support, calls one of them.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define VARNIC_WIDE_LOOP(result, name, params, args) \
  __attribute__((target_clones("avx2", "default"))) result name params
#elif (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__) && !defined(__clang__) && defined(_WIN32)
namespace varnic::utils {
// libgcc's probe also asks the system (XGETBV) whether it saves the wide registers.
inline bool cpu_has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
}  // namespace varnic::utils
#define VARNIC_WIDE_LOOP(result, name, params, args)                                                  \
  [[gnu::always_inline]] static inline result name##_body params;                                     \
  [[gnu::target("avx2")]] static result name##_avx2 params { return name##_body args; }               \
  static result name##_base params { return name##_body args; }                                       \
  result name params {                                                                                \
    static const auto chosen = ::varnic::utils::cpu_has_avx2() ? name##_avx2 : name##_base;        \
    return chosen args;                                                                               \
  }                                                                                                   \
  static inline result name##_body params
#else
#define VARNIC_WIDE_LOOP(result, name, params, args) result name params
#endif
