// SPDX-License-Identifier: BSD-2-Clause
// Steps, values and reconstruction points of every subband.
#include <algorithm>
#include <cmath>

#include "optimize/work.h"

namespace varnic::optimize {
namespace {

// The low band's E never exceeds this: it is a few hundred coefficients, and a coarse low band
// could not carry the mean colour correction (its step would exceed the shift to be made).
constexpr double kMaxLowBandScale = 40;
// Sample levels the mean of a plane must be settable to, for small pictures whose low band has
// only a few coefficients to carry it.
constexpr double kMeanResolution = 0.1;
// The largest BandMax and -BandMin the header's int16 fields hold.
constexpr long kMaxBandLimit = 32767;

// The header fields whose multipliers come nearest to up and down (relative error, both sides
// sharing the vector); every vector 1..125 is tried.
void represent(double up, double down, BandChoice& b) {
  double best = INFINITY;
  for (int vector = 1; vector <= format::kMaxQuantStep; ++vector) {
    const long max = std::clamp(std::lround(vector * up), 1L, kMaxBandLimit);
    const long min = std::clamp(std::lround(vector * down), 1L, kMaxBandLimit);
    const double error = std::fabs(double(max) / vector - up) / up + std::fabs(double(min) / vector - down) / down;
    if (error < best) {
      best = error;
      b.vector = static_cast<std::uint16_t>(vector);
      b.max = static_cast<std::int16_t>(max);
      b.min = static_cast<std::int16_t>(-min);
    }
  }
  b.set_scale();
}

}  // namespace

BandChoice choose_band(double largest, double smallest, double step, double dead_zone) {
  BandChoice b;
  b.step = step;
  if (largest < dead_zone * step && -smallest < dead_zone * step) return b;  // all zero
  const double up = std::max(step, largest / (kTopPositive + 0.4));
  const double down = std::max(step, -smallest / (kTopNegative + 0.4));
  // The finest multiplier resolution that keeps BandMax in int16.
  const int vector = std::clamp(static_cast<int>(double(kMaxBandLimit) / std::max(up, down)), 1, format::kMaxQuantStep);
  b.vector = static_cast<std::uint16_t>(vector);
  b.max = static_cast<std::int16_t>(std::clamp(std::lround(vector * up), 1L, kMaxBandLimit));
  b.min = static_cast<std::int16_t>(-std::clamp(std::lround(vector * down), 1L, kMaxBandLimit));
  b.set_scale();
  return b;
}

void quantize_low_band(Work& w, std::size_t c) {
  ChannelState& s = w.ch[c];
  const int k = format::low_band_index(levels_of(w));
  const double shift = s.offset * std::ldexp(1.0, levels_of(w));
  const std::size_t pw = w.params.padded_width;
  double hi = 0, lo = 0;
  for_band(w, k, [&](std::uint32_t y, std::uint32_t x) {
    const double v = s.coeffs[y * pw + x] + shift;
    hi = std::max(hi, v);
    lo = std::min(lo, v);
  });
  // Carrying the error resolves the mean to about step / count coefficient units, that is
  // step / (count 2^levels) sample levels.
  const format::BandRect r = band_rect(w, k);
  const double finest_needed = kMeanResolution * r.rows * r.cols * std::ldexp(1.0, levels_of(w));
  const double step = std::min(std::min(w.scale, kMaxLowBandScale) / std::sqrt(gain_of(w, k) * s.weight), finest_needed);
  const BandChoice& b = s.band(k) = choose_band(hi, lo, step, 0.0);
  double carry = 0;
  for_band(w, k, [&](std::uint32_t y, std::uint32_t x) {
    const double v = s.coeffs[y * pw + x] + shift + carry;
    const int n = b.vector == 0 ? 0 : nearest_value(v, b);
    carry = v - reconstruct(n, b);
    s.code(y, x) = static_cast<std::int8_t>(n);
  });
}

int all_zero_levels(const Work& w, std::size_t c) {
  const int levels = levels_of(w);
  int dropped = 0;
  for (int l = 0; l < levels - 1; ++l) {
    bool zero = true;
    for (int o = 0; o < 3 && zero; ++o) {
      for_band(w, 3 * l + o, [&](std::uint32_t y, std::uint32_t x) { zero = zero && w.ch[c].code(y, x) == 0; });
    }
    if (!zero) break;
    dropped = l + 1;
  }
  return dropped;
}

void quantize_channel(Work& w, std::size_t c) {
  ChannelState& s = w.ch[c];
  const int levels = levels_of(w);
  const std::size_t pw = w.params.padded_width;
  for (int k = 0; k < format::subband_count(levels) - 1; ++k) {
    const format::BandRect r = band_rect(w, k);
    float hi = 0, lo = 0;
    for (std::uint32_t y = r.row; y < r.row + r.rows; ++y) {
      const float* v = s.coeffs.data() + std::size_t{y} * pw + r.col;
      for (std::uint32_t x = 0; x < r.cols; ++x) {
        hi = v[x] > hi ? v[x] : hi;
        lo = v[x] < lo ? v[x] : lo;
      }
    }
    const double step = w.scale * std::pow(w.level_step_growth, k / 3) / std::sqrt(gain_of(w, k) * s.weight);
    const BandChoice& b = s.band(k) = choose_band(hi, lo, step, w.dead_zone);
    // Below this magnitude the nearest value is 0 (also inside the dead zone).
    const auto zero_below = static_cast<float>(std::max(
        w.dead_zone * b.step, 0.5 * std::min(std::trunc(double{b.scale.up}), std::trunc(double{b.scale.down}))));
    for (std::uint32_t y = r.row; y < r.row + r.rows; ++y) {
      const float* v = s.coeffs.data() + std::size_t{y} * pw + r.col;
      std::int8_t* q = s.quantized.row(y) + r.col;
      for (std::uint32_t x = 0; x < r.cols; ++x) {
        q[x] = static_cast<std::int8_t>(b.vector == 0 || std::fabs(v[x]) < zero_below ? 0 : nearest_value(v[x], b));
      }
    }
  }
  quantize_low_band(w, c);
  s.dropped = all_zero_levels(w, c);
}

void fit_reconstruction(Work& w, std::size_t c) {
  ChannelState& s = w.ch[c];
  const std::size_t pw = w.params.padded_width;
  struct Sample {
    float x, m;
    int q;  // magnitude
  };
  std::vector<Sample> side[2];
  for (int k = 3 * s.dropped; k < format::low_band_index(levels_of(w)); ++k) {
    BandChoice& b = s.band(k);
    if (b.vector == 0) continue;
    side[0].clear();
    side[1].clear();
    for_band(w, k, [&](std::uint32_t y, std::uint32_t x) {
      const int q = s.code(y, x);
      if (q == 0) return;
      const std::size_t at = std::size_t{y} * pw + x;
      side[q > 0 ? 0 : 1].push_back({std::fabs(s.coeffs[at]), s.masking_at(at), std::abs(q)});
    });
    // Per side, the multiplier that puts the reconstructions where the coefficients lie: least
    // squares sum x q / sum q^2, then, since the decoder truncates every product toward zero,
    // that value raised by up to half a unit on average, whichever fraction fits best.
    double fitted[2] = {b.scale.up, b.scale.down};
    for (int d = 0; d < 2; ++d) {
      double xq = 0, qq = 0, q1 = 0;
      for (const Sample& p : side[d]) {
        xq += double(p.m) * p.x * p.q;
        qq += double(p.m) * p.q * p.q;
        q1 += double(p.m) * p.q;
      }
      if (qq <= 0 || xq <= 0) continue;
      double best = INFINITY;
      for (int part = 0; part <= 4; ++part) {
        const float u = static_cast<float>(xq / qq + 0.25 * part * q1 / qq);
        double error = 0;
        for (const Sample& p : side[d]) {
          const double e = p.x - static_cast<double>(static_cast<std::int32_t>(p.q * static_cast<double>(u)));
          error += p.m * e * e;
        }
        if (error < best) best = error, fitted[d] = u;
      }
    }
    represent(fitted[0], fitted[1], b);
  }
}

}  // namespace varnic::optimize
