// SPDX-License-Identifier: BSD-2-Clause
// Zerotrees chosen by dynamic programming, finest coded level first: each node either keeps its
// nearest value (or the next one toward zero) and its children's best choices, or becomes a
// zerotree root that zeroes everything below it. Distortion is the coefficient error weighted by
// synthesis gain, colour weight and masking; rate is what the coder charged in each band on the
// last pass through coding order (refine.cpp), which must have run. The node shapes
// follow the encoder's zerotree marking (codec::may_be_zerotree_root).
#include <algorithm>
#include <cmath>

#include "codec/zerotrees.h"
#include "optimize/work.h"

namespace varnic::optimize {
void prune(Work& w, std::size_t c) {
  ChannelState& s = w.ch[c];
  const int levels = levels_of(w);
  const std::uint32_t pw = w.params.padded_width, ph = w.params.padded_height;
  const std::size_t size = std::size_t{pw} * ph;
  const double lambda = w.lambda;
  // best: the cheapest cost of a node's tree; zeroed: its distortion with every value zero; root:
  // whether it is a root. Every entry read is written first (children before parents).
  w.tree_best.resize(size);
  w.tree_zeroed.resize(size);
  w.tree_root.resize(size);
  float* best = w.tree_best.data();
  float* zeroed = w.tree_zeroed.data();
  std::uint8_t* root = w.tree_root.data();
  const float* coeffs = s.coeffs.data();
  for (int l = s.dropped; l < levels; ++l) {
    const std::uint32_t half_rows = ph >> (l + 1), half_cols = pw >> (l + 1);
    const bool leaves = l == s.dropped;  // children are dropped or absent
    for (int o = 0; o < 3; ++o) {
      const int k = 3 * l + o;
      const BandChoice& b = s.band(k);
      const auto weight = static_cast<float>(gain_of(w, k) * s.weight);
      // Rate in distortion units, by value; a zero at the finest coded level of a plane with
      // dropped levels is always a root.
      std::array<float, kSymbols> rate{};
      for (std::size_t v = 0; v < kSymbols; ++v) rate[v] = static_cast<float>(lambda * s.costs[static_cast<std::size_t>(k)][v]);
      const float root_rate = rate[symbol_index(format::kZeroTreeRoot)];
      if (leaves && s.dropped > 0) rate[symbol_index(0)] = root_rate;
      // Below this magnitude the nearest value is 0.
      const auto zero_below = static_cast<float>(
          b.vector == 0 ? INFINITY : 0.5 * std::min(std::trunc(double{b.scale.up}), std::trunc(double{b.scale.down})));
      const float zero_rate = rate[symbol_index(0)];
      const format::BandRect r = band_rect(w, k);
      for (std::uint32_t y = r.row; y < r.row + r.rows; ++y) {
        const std::size_t row = std::size_t{y} * pw;
        const float* c0 = best + std::size_t{2 * y} * pw;
        const float* z0 = zeroed + std::size_t{2 * y} * pw;
        std::int8_t* q = s.quantized.row(y);
        for (std::uint32_t x = r.col; x < r.col + r.cols; ++x) {
          const std::size_t at = row + x;
          const float v = coeffs[at];
          const float m = weight * s.masking_at(at);
          float child_best = 0, child_zeroed = 0;
          if (!leaves) {
            const std::size_t a = 2 * std::size_t{x};
            child_best = c0[a] + c0[a + 1] + c0[a + pw] + c0[a + pw + 1];
            child_zeroed = z0[a] + z0[a + 1] + z0[a + pw] + z0[a + pw + 1];
          }
          const float zero_cost = m * v * v;
          int chosen = 0;
          float keep = zero_cost + zero_rate;
          const int n = std::fabs(v) < zero_below ? 0 : nearest_value(v, b);
          if (n != 0) {
            // The nearest value or the next one toward zero.
            const float e = v - static_cast<float>(reconstruct(n, b));
            const float kept = m * e * e + rate[symbol_index(n)];
            const int toward = n > 0 ? n - 1 : n + 1;
            const float f = v - static_cast<float>(reconstruct(toward, b));
            const float alt = m * f * f + rate[symbol_index(toward)];
            chosen = alt < kept ? toward : n;
            keep = alt < kept ? alt : kept;
          }
          keep += child_best;
          const float tree = zero_cost + child_zeroed + root_rate;
          q[x] = static_cast<std::int8_t>(chosen);
          const bool is_root = tree <= keep && codec::may_be_zerotree_root(l, y, x, half_rows, half_cols);
          root[at] = is_root ? 1 : 0;
          best[at] = is_root ? tree : keep;
          zeroed[at] = zero_cost + child_zeroed;
        }
      }
    }
  }
  // Coarse to fine: a root clears its own value and marks its children.
  for (int l = levels - 1; l >= s.dropped; --l) {
    for (int o = 0; o < 3; ++o) {
      for_band(w, 3 * l + o, [&](std::uint32_t y, std::uint32_t x) {
        const std::size_t at = std::size_t{y} * pw + x;
        if (!root[at]) return;
        s.code(y, x) = 0;
        if (l == s.dropped) return;
        for (std::uint32_t dy = 0; dy < 2; ++dy) {
          for (std::uint32_t dx = 0; dx < 2; ++dx) root[std::size_t{2 * y + dy} * pw + 2 * x + dx] = 1;
        }
      });
    }
  }
  s.dropped = std::max(s.dropped, all_zero_levels(w, c));
}

}  // namespace varnic::optimize
