// SPDX-License-Identifier: BSD-2-Clause
#include "codec/zerotrees.h"

#include <algorithm>
#include <cstring>

#include "format/plane.h"

namespace varnic::codec {

void mark_zerotree_codes(format::SymbolPlane& plane, int total_levels, int dropped_levels) {
  const int levels = total_levels;
  if (levels < 2) return;
  const int coded = std::max(levels - dropped_levels, 0);
  const std::uint32_t pw = plane.width();
  const std::uint32_t ph = plane.height();
  auto rows_of = [&](int scale) { return ph >> (levels - scale); };
  auto cols_of = [&](int scale) { return pw >> (levels - scale); };
  // Bottom-up first: a zero whose descendants down to scale K are all zero is held as this code
  // until the marking below (it is no quantized value and no marker). Marking never touches the
  // descendants of a node before that node is visited, so the test reads the unmarked values.
  constexpr std::int8_t kZeroTree = -128;
  static_assert(kZeroTree < format::kZeroTreeRoot);
  for (int t = coded - 1; t >= 1; --t) {
    const std::uint32_t h = rows_of(t);
    const std::uint32_t w = cols_of(t);
    const std::int8_t leaf = t + 1 >= coded ? 0 : kZeroTree;
    for (std::uint32_t i = 0; i < h; ++i) {
      const std::int8_t* c0 = plane.row(2 * i);
      const std::int8_t* c1 = plane.row(2 * i + 1);
      std::int8_t* z = plane.row(i);
      for (std::uint32_t j = i < h / 2 ? w / 2 : 0; j < w; ++j) {
        const std::uint32_t a = 2 * j;
        if (z[j] == 0 && c0[a] == leaf && c0[a + 1] == leaf && c1[a] == leaf && c1[a + 1] == leaf) z[j] = kZeroTree;
      }
    }
  }
  // Coarse to fine, so a descendant already inside a tree is never a root itself.
  for (int s = 1; s < levels; ++s) {
    const std::uint32_t h = rows_of(s);
    const std::uint32_t w = cols_of(s);
    const std::int8_t root_value = coded > s ? kZeroTree : 0;
    for (std::uint32_t i = 0; i < h; ++i) {
      std::int8_t* row = plane.row(i);
      for (std::uint32_t j = 0; j < w; ++j) {
        if (!may_be_zerotree_root(levels - s, i, j, h / 2, w / 2)) {
          if (row[j] == kZeroTree) row[j] = 0;
          continue;
        }
        if (row[j] != root_value) continue;
        row[j] = format::kZeroTreeRoot;
        for (int m = 1; m <= coded - s; ++m) {
          const std::uint32_t side = 1u << m;
          for (std::uint32_t y = side * i; y < side * (i + 1); ++y) {
            std::memset(plane.row(y) + side * j, format::kZeroTreeInside, side);
          }
        }
      }
    }
  }
}

}  // namespace varnic::codec
