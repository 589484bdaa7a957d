// SPDX-License-Identifier: BSD-2-Clause
// One pass through a channel in the order the coder codes it, the coder's model carried along
// (CoderCosts), on the plane as the encoder will mark it. The pass records what each band's
// symbols cost on average, for the tree choices; deciding, it also re-chooses every coded detail
// value among its nearest value, the next one toward zero and zero, at the cost the model charges
// at that point. A zero whose descendants are all zero becomes a zerotree root, as the marking
// would make it: its cost is the root's less what its children would have cost.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codec/symbols.h"
#include "codec/zerotrees.h"
#include "optimize/coder_costs.h"
#include "optimize/work.h"

namespace varnic::optimize {
namespace {

// A symbol missing from the table costs at least this much (a fresh count of 1 in a full model).
constexpr float kUnlistedBits = 12.0f;

}  // namespace

void refine(Work& w, std::size_t c, bool decide) {
  ChannelState& s = w.ch[c];
  const int levels = levels_of(w);
  const int dropped = s.dropped;
  const std::uint32_t pw = w.params.padded_width, ph = w.params.padded_height;
  format::SymbolPlane marked;
  if (marked.allocate(pw, ph) != format::StatusCode::kOk) throw std::bad_alloc();
  std::memcpy(marked.data(), s.quantized.data(), marked.size());
  codec::mark_zerotree_codes(marked, levels, dropped);
  const std::array<std::uint32_t, 256> counts = codec::count_codes(marked);
  const codec::SymbolCoding table = codec::symbol_coding(counts);
  std::vector<int> listed;  // values in the table
  for (int i = 0; i < table.table.count; ++i) listed.push_back(table.table.value(i));
  auto character = [&](int value) { return table.rank[symbol_index(value)]; };
  auto in_table = [&](int value) { return counts[symbol_index(value)] > 0; };

  CoderCosts coder;
  coder.start(table.table.count);
  BandCosts sums{};
  std::array<double, format::kMaxSubbands> seen{};
  const double lambda = w.lambda;
  const bool children_known = s.costs_known;

  // Bands in coding order: the low band, then each coded level from the coarsest, h, v, d.
  std::vector<int> order = {format::low_band_index(levels)};
  for (int l = levels - 1; l >= dropped; --l) {
    order.push_back(format::subband_index(l, format::Orientation::kH));
    order.push_back(format::subband_index(l, format::Orientation::kV));
    order.push_back(format::subband_index(l, format::Orientation::kD));
  }
  for (const int k : order) {
    const int l = k / 3;
    const bool low = k == format::low_band_index(levels);
    // The second segment, with a fresh model, is the finest coded level.
    if (!low && l == dropped && k == format::subband_index(l, format::Orientation::kH)) coder.start(table.table.count);
    const format::BandRect r = band_rect(w, k);
    const BandChoice& b = s.band(k);
    const double weight = gain_of(w, k) * s.weight;
    const std::uint32_t half_rows = ph >> (l + 1), half_cols = pw >> (l + 1);
    const auto ki = static_cast<std::size_t>(k);
    for (std::uint32_t y = r.row; y < r.row + r.rows; ++y) {
      for (const int v : listed) sums[ki][symbol_index(v)] += coder.bits(character(v)) * static_cast<float>(r.cols);
      seen[ki] += r.cols;
      std::int8_t* row = marked.row(y);
      for (std::uint32_t x = r.col; x < r.col + r.cols; ++x) {
        const int code = row[x];
        if (code == format::kZeroTreeInside) continue;
        if (!decide || low || code == format::kZeroTreeRoot) {
          coder.code(character(code));
          continue;
        }
        const std::size_t at = std::size_t{y} * pw + x;
        const double v = s.coeffs[at];
        const double m = weight * s.masking_at(at);
        // Whether zero here would make a root: its children are roots already (or zeros of
        // the finest level, which has no roots), or it lies on the finest coded level of a
        // plane with dropped levels.
        bool collapses = false;
        float children_bits = 0;
        if (codec::may_be_zerotree_root(l, y, x, half_rows, half_cols)) {
          collapses = true;
          if (l > dropped) {
            for (std::uint32_t dy = 0; dy < 2 && collapses; ++dy) {
              const std::int8_t* child = marked.row(2 * y + dy) + 2 * x;
              for (std::uint32_t dx = 0; dx < 2; ++dx) {
                const int cc = child[dx];
                if (cc != format::kZeroTreeRoot && !(cc == 0 && l - 1 == 0)) {
                  collapses = false;
                  break;
                }
                children_bits += children_known ? s.cost(k - 3, cc) : coder.bits(character(cc));
              }
            }
          }
        }
        const int n = b.vector == 0 ? 0 : nearest_value(v, b);
        int chosen = code;
        double best = INFINITY;
        auto consider = [&](int q) {
          double bits;
          if (q == 0 && collapses) {
            bits = (in_table(format::kZeroTreeRoot) ? coder.bits(character(format::kZeroTreeRoot)) : kUnlistedBits) -
                   children_bits;
          } else {
            bits = in_table(q) ? coder.bits(character(q)) : kUnlistedBits;
          }
          const double e = v - reconstruct(q, b);
          const double cost = m * e * e + lambda * bits;
          if (cost < best) best = cost, chosen = q;
        };
        consider(code);
        if (n != code) consider(n);
        if (n != 0) consider(n > 0 ? n - 1 : n + 1);
        consider(0);
        s.code(y, x) = static_cast<std::int8_t>(chosen);
        if (chosen == 0 && collapses) {
          row[x] = format::kZeroTreeRoot;
          if (l > dropped) {
            for (std::uint32_t dy = 0; dy < 2; ++dy) std::memset(marked.row(2 * y + dy) + 2 * x, format::kZeroTreeInside, 2);
          }
        } else {
          row[x] = static_cast<std::int8_t>(chosen);
        }
        const int coded = row[x];
        if (!in_table(coded)) {
          // A value the table did not list: the final encode lists it; here it costs as unlisted.
          continue;
        }
        coder.code(character(coded));
      }
    }
  }
  for (std::size_t k = 0; k < sums.size(); ++k) {
    for (std::size_t v = 0; v < kSymbols; ++v) {
      s.costs[k][v] = seen[k] > 0 && counts[v] > 0 ? static_cast<float>(sums[k][v] / seen[k]) : kUnlistedBits;
    }
  }
  s.costs_known = true;
  s.dropped = std::max(s.dropped, all_zero_levels(w, c));
}

}  // namespace varnic::optimize
