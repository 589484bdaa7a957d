// SPDX-License-Identifier: BSD-2-Clause
// The optimiser's state for one attempt at a picture, shared by its stages: each channel's
// unthresholded coefficients, the values chosen for them, each subband's dequantization and the
// coder's costs per band; and the stages that work on them (quantizer.cpp, trees.cpp,
// refine.cpp, masking.cpp). Internal to optimize/.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/colour_transform.h"
#include "decoder/decoder.h"
#include "format/params.h"
#include "format/plane.h"
#include "format/symbol_plane.h"
#include "optimize/optimize.h"

namespace varnic::optimize {

// Symbols a plane can hold: value + format::kSymbolBias.
inline constexpr int kSymbols = 256;
// The largest quantized magnitudes on each side (markers sit at -126, -127).
inline constexpr int kTopPositive = format::kMaxQuantized;
inline constexpr int kTopNegative = -format::kMinQuantized;

// Where a quantized value (or marker) counts in a per-symbol table.
inline std::size_t symbol_index(int value) { return static_cast<std::size_t>(value + format::kSymbolBias); }

// One subband's dequantization: the header fields and the decoder's multipliers.
struct BandChoice {
  std::uint16_t vector = 0;
  std::int16_t max = 0, min = 0;
  decoder::BandScale scale;
  double inverse_up = 0, inverse_down = 0;  // 1 / scale.up and 1 / scale.down
  double step = 0;  // the step asked for (dead zone reference)

  // The multipliers of the header fields, as every decoder forms them.
  void set_scale() {
    scale = decoder::band_scale(max, min, static_cast<std::int16_t>(vector));
    inverse_up = scale.up > 0 ? 1.0 / scale.up : 0.0;
    inverse_down = scale.down > 0 ? 1.0 / scale.down : 0.0;
  }
};

// Bits per symbol in each subband: what the coder charged on average over the band's positions
// in the last pass through coding order.
using BandCosts = std::array<std::array<float, kSymbols>, format::kMaxSubbands>;

struct ChannelState {
  std::vector<float> coeffs;   // the padded plane's coefficients, pyramid layout
  const float* masking = nullptr;  // per position, the squared error's weight (Work::masking)
  // The chosen values, unmarked; dropped levels hold zeros (as the decoder reconstructs them).
  format::SymbolPlane quantized;
  std::array<BandChoice, format::kMaxSubbands> bands{};
  BandCosts costs{};
  bool costs_known = false;  // a pass through coding order has filled `costs`
  double weight = 1;  // the channel's share of RGB squared error
  int dropped = 0;
  double offset = 0;  // added to the samples (through the low band)

  // Subbands are numbered by int, as the format layer numbers them.
  BandChoice& band(int k) { return bands[static_cast<std::size_t>(k)]; }
  const BandChoice& band(int k) const { return bands[static_cast<std::size_t>(k)]; }
  float cost(int k, int value) const { return costs[static_cast<std::size_t>(k)][symbol_index(value)]; }
  std::int8_t& code(std::uint32_t y, std::uint32_t x) { return quantized.row(y)[x]; }
  int code(std::uint32_t y, std::uint32_t x) const { return quantized.row(y)[x]; }
  float masking_at(std::size_t at) const { return masking == nullptr ? 1.0f : masking[at]; }
};

struct Work {
  explicit Work(const codec::PictureRows& p) : picture(p) {}

  const codec::PictureRows& picture;
  format::CodecParams params;  // working copy: levels, padded size, header fields
  std::size_t planes = 1;
  Tune tune = Tune::kPsnr;
  double scale = 1;   // E
  double lambda = 0;  // squared-error units per bit
  double dead_zone = 0;
  // Each coarser level's steps are this much larger than the distortion scale alone gives.
  double level_step_growth = 1;
  std::array<ChannelState, format::kChannelCount> ch;
  // Scratch of the tree choices (trees.cpp), kept between rounds and channels.
  std::vector<float> tree_best, tree_zeroed;
  std::vector<std::uint8_t> tree_root;
  // --tune ssim: the weight of a squared error at every coefficient position of the detail bands,
  // the same for every channel (empty for --tune psnr).
  std::vector<float> masking;
};

inline int levels_of(const Work& w) { return w.params.total_levels; }
inline format::BandRect band_rect(const Work& w, int k) {
  return format::subband_rect(w.params.padded_width, w.params.padded_height, levels_of(w), k);
}
inline double gain_of(const Work& w, int k) { return synthesis_gain(levels_of(w), k); }

template <class Visit>
void for_band(const Work& w, int k, Visit&& visit) {
  const format::BandRect r = band_rect(w, k);
  for (std::uint32_t y = r.row; y < r.row + r.rows; ++y) {
    for (std::uint32_t x = r.col; x < r.col + r.cols; ++x) visit(y, x);
  }
}

// What the decoder makes of value q.
inline double reconstruct(int q, const BandChoice& b) { return decoder::dequantize_value(q, b.scale); }

// The value whose reconstruction lies nearest to x. The decoder truncates every product toward
// zero, so the value after the rounded one may lie nearer.
inline int nearest_value(double x, const BandChoice& b) {
  const bool positive = x > 0;
  const double a = positive ? x : -x;
  const double m = positive ? static_cast<double>(b.scale.up) : static_cast<double>(b.scale.down);
  const int top = positive ? kTopPositive : kTopNegative;
  int n = static_cast<int>(a * (positive ? b.inverse_up : b.inverse_down) + 0.5);
  if (n >= top) return positive ? top : -top;
  const double here = a - static_cast<double>(static_cast<std::int32_t>(n * m));
  const double next = static_cast<double>(static_cast<std::int32_t>((n + 1) * m)) - a;
  if (next < (here < 0 ? -here : here)) ++n;
  return positive ? n : -n;
}

// quantizer.cpp: the header fields of a band for steps `step` (both sides, widened where the
// band's extremes would not fit in -125..127 steps; none when both extremes lie within the dead
// zone, in steps).
BandChoice choose_band(double largest, double smallest, double step, double dead_zone);
// Every detail band of a channel at the distortion scale, then the low band, then the dropped
// levels that hold nothing but zeros.
void quantize_channel(Work& w, std::size_t c);
// The low band with the channel's offset, its rounding error carried along.
void quantize_low_band(Work& w, std::size_t c);
// Finest levels whose bands hold nothing but zeros.
int all_zero_levels(const Work& w, std::size_t c);
// Moves each detail band's multipliers to where its chosen values' coefficients lie.
void fit_reconstruction(Work& w, std::size_t c);

// trees.cpp: zerotrees and values chosen by dynamic programming over every tree, with the costs of
// the last pass through coding order.
void prune(Work& w, std::size_t c);

// refine.cpp: one pass through the channel in coding order with the coder's model carried along;
// records each band's costs, and with `decide` re-chooses every coded value at the cost the model
// charges at its point.
void refine(Work& w, std::size_t c, bool decide);

// masking.cpp: the --tune ssim weight of every coefficient position, from the picture.
void compute_masking(Work& w);

}  // namespace varnic::optimize
