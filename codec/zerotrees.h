// SPDX-License-Identifier: BSD-2-Clause
// Zerotree marking on a channel's byte codes: a zero whose coded descendants are all zero becomes
// format::kZeroTreeRoot, coded like any value, and those descendants format::kZeroTreeInside,
// never coded. Scales count from the coarsest detail level: scale s = 1..L holds level L - s, and
// with d dropped levels only scales 1..K = L - d are coded. Every zero at scale K becomes a root
// when d > 0.
#pragma once

#include <cstdint>

#include "format/symbol_plane.h"

namespace varnic::codec {

// Whether a zero at (row, col) of level `level`'s square (the padded plane's top-left
// (height >> level) x (width >> level), whose quarter is half_rows x half_cols) may become a root:
// never on the finest level, and never in the square's top-left quarter, bounds included (so
// besides the coarser bands, row half_rows of v, column half_cols of h and the first d
// coefficient are never roots either).
constexpr bool may_be_zerotree_root(int level, std::uint32_t row, std::uint32_t col, std::uint32_t half_rows,
                                    std::uint32_t half_cols) {
  return level >= 1 && !(row <= half_rows && col <= half_cols);
}

// Marks the quantized codes in place (unmarked codes are -125..127). Nothing happens below 2
// levels.
void mark_zerotree_codes(format::SymbolPlane& plane, int total_levels, int dropped_levels);

}  // namespace varnic::codec
