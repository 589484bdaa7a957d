// SPDX-License-Identifier: BSD-2-Clause
// Checks shared by the picture-reader fuzz targets. A fuzz target cannot report a failure other
// than by crashing, so a broken invariant aborts with a message naming it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace varnic::fuzz {

// Pictures above this many pixels are refused: the targets explore structure, not allocation.
inline constexpr std::uint64_t kPixelLimit = std::uint64_t{1} << 20;

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

inline void require(bool condition, const char* what) {
  if (!condition) fail(what);
}

}  // namespace varnic::fuzz
