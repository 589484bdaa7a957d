// SPDX-License-Identifier: BSD-2-Clause
// A marked channel's symbols: how often each code occurs, the symbol table the format lists, the
// coding order of the positions and the arithmetic-coded segments.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "format/format.h"
#include "format/plane.h"
#include "format/symbol_plane.h"

namespace varnic::codec {

// Calls visit(code) for the positions [begin, end) of the plane in coding order (low band, then
// per level from the coarsest the bands h, v, d, row by row). Runs of positions inside
// zerotrees, most of a fine band, are passed over eight at a time: they are never coded, so
// visit may or may not see them.
template <class Visit>
void for_each_in_coding_order(const format::SymbolPlane& plane, int total_levels, std::size_t begin,
                              std::size_t end, Visit&& visit) {
  std::uint32_t h = plane.height() >> total_levels;
  std::uint32_t w = plane.width() >> total_levels;
  std::size_t position = 0;
  auto block = [&](std::uint32_t row, std::uint32_t col) {
    for (std::uint32_t r = row; r < row + h && position < end; ++r) {
      const std::size_t next = position + w;
      if (next > begin) {
        const std::int8_t* src = plane.row(r) + col;
        const std::size_t first = begin > position ? begin - position : 0;
        const std::size_t last = std::min<std::size_t>(w, end - position);
        constexpr std::uint64_t kInsideRun = 0x0101010101010101u * static_cast<std::uint8_t>(format::kZeroTreeInside);
        std::size_t j = first;
        while (j < last) {
          if (j + 8 <= last) {
            std::uint64_t eight;
            std::memcpy(&eight, src + j, sizeof eight);
            if (eight == kInsideRun) {
              j += 8;
              continue;
            }
          }
          visit(src[j]);
          ++j;
        }
      }
      position = next;
    }
  };
  block(0, 0);
  for (int l = 0; l < total_levels && position < end; ++l) {
    block(0, w);  // h
    block(h, 0);  // v
    block(h, w);  // d
    h *= 2;
    w *= 2;
  }
}

// How often each code occurs in the whole plane (dropped levels and skip markers included, as
// the format counts them), by code + format::kSymbolBias.
std::array<std::uint32_t, 256> count_codes(const format::SymbolPlane& plane);

// The symbol table of those counts, ordered by the format's exchange sort (ties as it leaves
// them), and each code's rank (its character) by code + kSymbolBias.
struct SymbolCoding {
  format::SymbolTable table;
  std::array<int, 256> rank{};
};
SymbolCoding symbol_coding(const std::array<std::uint32_t, 256>& count);

// Where a marked plane's two segments lie in coding order: dropping d levels keeps exactly the
// first PlaneSize / 4^d positions, and the second segment is the finest coded level.
struct SegmentSplit {
  std::size_t split = 0;  // segment 2 starts here
  std::size_t coded = 0;  // and ends here
};
SegmentSplit segment_split(const format::SymbolPlane& plane, int dropped_levels);

// Positions [begin, end) in coding order as one segment with a fresh model, closed by the end
// symbol and the flush byte, appended to `out`.
void code_segment(const format::SymbolPlane& plane, int total_levels, std::size_t begin, std::size_t end,
                  const SymbolCoding& symbols, std::vector<std::uint8_t>& out);

}  // namespace varnic::codec
