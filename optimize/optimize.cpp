// SPDX-License-Identifier: BSD-2-Clause
#include "optimize/optimize.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <span>
#include <vector>

#include "codec/line_analysis.h"
#include "codec/zerotrees.h"
#include "decoder/decoder.h"
#include "display/display.h"
#include "format/colour_space.h"
#include "format/symbol_plane.h"

namespace varnic::optimize {
namespace {

using format::BandRect;
using format::Channel;
using format::CodecParams;
using format::StatusCode;
using format::SymbolPlane;

// Energy gains of the decoder's synthesis per unit coefficient (measured with
// impulses far from the edges; the optimiser's tests measure them again). Detail
// gains depend on the level alone, in the order v, h, d.
constexpr double kDetailGain[codec::kMaxLevels][3] = {
    {1.07812, 1.07812, 2.06641}, {0.633555, 0.633555, 0.849859}, {0.532044, 0.532044, 0.629255},
    {0.50794, 0.50794, 0.579684}, {0.501999, 0.501406, 0.567456}, {0.50072, 0.500164, 0.567643}};
constexpr double kLowGain[codec::kMaxLevels] = {0.5625, 0.471721, 0.444977, 0.433021, 0.415883, 0.38263};

// The decoder's inverse colour matrix (R, G, B rows; Y, I, Q columns), from the format's
// fixed-point terms, and each channel's share of RGB squared error: the sum of its column's
// squares over 3 (Y: 1).
constexpr double kInverse[3][3] = {
    {1.0, format::kRedFromI / 1024.0, format::kRedFromQ / 1024.0},
    {1.0, format::kGreenFromI / 1024.0, format::kGreenFromQ / 1024.0},
    {1.0, format::kBlueFromI / 1024.0, format::kBlueFromQ / 1024.0}};
constexpr double kChannelWeight[3] = {1.0, 0.73752, 1.23466};
// Where the mean colour correction starts: the shifts it settles on for
// photos of the tuning set (the decoder's rounding is mostly toward minus
// infinity, so they are positive), grey pictures' Y apart.
constexpr double kTypicalOffset[3] = {2.1, 1.0, 0.8};
constexpr double kTypicalGreyOffset = 1.0;

// Quantizer shape: below kDeadZone steps a detail coefficient becomes 0;
// above, values round down from kRounding of a step. Both tuned on the
// tuning pictures (bench/optimize).
// Level 2 and up start from a narrower dead zone and let the pruning decide.
constexpr double kDeadZone = 0.62;
constexpr double kPrunedDeadZone = 0.5;
constexpr double kRounding = 0.5;
// Lagrange multiplier of the pruning, in units of E^2 per bit.
constexpr double kLambdaPerE2 = 0.1;
// The low band's E never exceeds this: it is a few hundred coefficients, and
// a coarse low band could not carry the mean colour correction (its step
// would exceed the shift to be made).
constexpr double kMaxLowBandScale = 40;
// Sample levels the mean of a plane must be settable to, for small pictures
// whose low band has only a few coefficients to carry it.
constexpr double kMeanResolution = 0.1;
// The mean colour correction stops once every channel is this close.
constexpr double kMeanErrorGoal = 0.1;
// Measured states of the mean colour correction (the first has no
// correction); higher levels take several, since clamping at 0 and 255 and
// the inverse colour rounding are not linear.
constexpr int kCorrectionRounds[kMaxOptimizeLevel + 1] = {0, 1, 4, 6};
// Symbols a plane can hold: value + format::kSymbolBias.
constexpr int kSymbols = 256;
// The largest quantized magnitudes on each side (markers sit at -126, -127).
constexpr int kTopPositive = format::kMaxQuantized;
constexpr int kTopNegative = -format::kMinQuantized;

// Where a quantized value (or marker) counts in a per-symbol table.
std::size_t symbol_index(int value) { return static_cast<std::size_t>(value + format::kSymbolBias); }

std::array<std::array<double, 3>, 3> invert(const double (&m)[3][3]) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  std::array<std::array<double, 3>, 3> r{};
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) {
      const std::size_t a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
      r[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
    }
  }
  return r;
}
const std::array<std::array<double, 3>, 3>& forward_matrix() {
  static const auto forward = invert(kInverse);
  return forward;
}

// One subband's dequantization: the header fields and the decoder's floats.
struct BandChoice {
  std::uint16_t vector = 0;
  std::int16_t max = 0, min = 0;
  decoder::BandScale scale;
  double step = 0;  // the step asked for (dead zone reference)
};

// Per channel: the transformed float plane and its quantized twin, whose dropped levels hold
// zeros (as the decoder reconstructs them).
struct ChannelState {
  std::vector<float> coeffs;
  SymbolPlane quantized;
  std::array<BandChoice, format::kMaxSubbands> bands{};
  double weight = 1;
  int dropped = 0;
  double offset = 0;  // added to the samples (through the low band)
  std::array<double, kSymbols> bits{};  // symbol costs of the last coded pass

  // Subbands are numbered by int, as the format layer numbers them.
  BandChoice& band(int k) { return bands[static_cast<std::size_t>(k)]; }
  // Cost of a quantized value (or marker) in the last coded pass.
  double value_bits(int value) const { return bits[symbol_index(value)]; }
  std::int8_t& code(std::uint32_t y, std::uint32_t x) { return quantized.row(y)[x]; }
  int code(std::uint32_t y, std::uint32_t x) const { return quantized.row(y)[x]; }
};

struct Work {
  const codec::PictureRows& picture;
  CodecParams params;  // working copy: levels, padded size, header fields
  std::size_t planes = 1;
  double scale = 1;  // E
  double dead_zone = 0;
  std::array<ChannelState, format::kChannelCount> ch;
};

int levels_of(const Work& w) { return w.params.total_levels; }

// One row of a channel's samples as the decoder's inverse should see them: the exact inverse of its
// colour matrix (no rounding), padding that continues the edge so that it costs no detail bits.
void sample_row(const Work& w, std::size_t c, std::uint32_t y, float* out) {
  const codec::PictureRows& p = w.picture;
  const std::uint8_t* src = p.bottom_row(std::min(y, p.height - 1));
  constexpr float kShift = codec::kEncoderPixelOffset;
  if (w.planes == 1) {
    for (std::uint32_t x = 0; x < p.width; ++x) out[x] = static_cast<float>(src[x]) - kShift;
  } else {
    float f[3];
    for (std::size_t j = 0; j < 3; ++j) f[j] = static_cast<float>(forward_matrix()[c][j]);
    const int red = p.rgb_order ? 0 : 2, blue = 2 - red;
    for (std::uint32_t x = 0; x < p.width; ++x) {
      const std::uint8_t* px = src + 3 * std::size_t{x};
      const float r = px[red] - kShift, g = px[1] - kShift, b = px[blue] - kShift;
      out[x] = f[0] * r + f[1] * g + f[2] * b;
    }
  }
  std::fill(out + p.width, out + w.params.padded_width, out[p.width - 1]);
}

// Every channel's coefficients, unthresholded, through the encoder's line analysis.
void analyse(Work& w) {
  const std::uint32_t pw = w.params.padded_width, ph = w.params.padded_height;
  const std::array<std::uint16_t, format::kThresholdEntries> no_thresholds{};
  std::vector<float> row(pw);
  for (std::size_t c = 0; c < w.planes; ++c) {
    std::vector<float>& coeffs = w.ch[c].coeffs;
    coeffs.assign(std::size_t{pw} * ph, 0.0f);
    std::array<BandRect, format::kMaxSubbands> rects{};
    for (int k = 0; k < format::subband_count(levels_of(w)); ++k) {
      rects[static_cast<std::size_t>(k)] = format::subband_rect(pw, ph, levels_of(w), k);
    }
    codec::LineAnalysis analysis;
    analysis.start(pw, ph, levels_of(w), no_thresholds.data(),
                   [&](int k, std::uint32_t r, const float* samples, std::uint32_t n) {
                     const BandRect& rect = rects[static_cast<std::size_t>(k)];
                     std::copy_n(samples, n, coeffs.data() + std::size_t{rect.row + r} * pw + rect.col);
                   });
    for (std::uint32_t y = 0; y < ph; ++y) {
      sample_row(w, c, y, row.data());
      analysis.push(row.data());
    }
  }
}

template <class Visit>
void for_band(const Work& w, int k, Visit&& visit) {
  const BandRect r = format::subband_rect(w.params.padded_width, w.params.padded_height,
                                        levels_of(w), k);
  for (std::uint32_t y = r.row; y < r.row + r.rows; ++y) {
    for (std::uint32_t x = r.col; x < r.col + r.cols; ++x) visit(y, x);
  }
}

double gain_of(const Work& w, int k) { return synthesis_gain(levels_of(w), k); }

// The header fields of a band for steps `step` (both sides, widened where
// the band's extremes would not fit in -125..127 steps).
BandChoice choose_band(double largest, double smallest, double step, double dead_zone) {
  BandChoice b;
  b.step = step;
  if (largest < dead_zone * step && -smallest < dead_zone * step) return b;  // all zero
  const double up = std::max(step, largest / (kTopPositive + 0.4));
  const double down = std::max(step, -smallest / (kTopNegative + 0.4));
  // The finest multiplier resolution that keeps BandMax in int16.
  const int vector = std::clamp(static_cast<int>(32767.0 / std::max(up, down)), 1, format::kMaxQuantStep);
  b.vector = static_cast<std::uint16_t>(vector);
  b.max = static_cast<std::int16_t>(std::clamp(std::lround(vector * up), 1L, 32767L));
  b.min = static_cast<std::int16_t>(-std::clamp(std::lround(vector * down), 1L, 32767L));
  b.scale = decoder::band_scale(b.max, b.min, static_cast<std::int16_t>(b.vector));
  return b;
}

int quantize_value(double x, const BandChoice& b, double dead_zone) {
  if (b.vector == 0 || std::fabs(x) < dead_zone * b.step) return 0;
  if (x > 0) {
    return std::min(kTopPositive, static_cast<int>(x / b.scale.up + kRounding));
  }
  return -std::min(kTopNegative, static_cast<int>(-x / b.scale.down + kRounding));
}

double reconstruct(int q, const BandChoice& b) { return decoder::dequantize_value(q, b.scale); }

// The low band with the channel's offset, its rounding error carried from
// each coefficient to the next so that the band's mean (and so the picture's)
// survives a step coarser than the correction.
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
  // Carrying the error resolves the mean to about step / count coefficient
  // units, that is step / (count 2^levels) sample levels.
  const BandRect r = format::subband_rect(w.params.padded_width, w.params.padded_height,
                                        levels_of(w), k);
  const double finest_needed = kMeanResolution * r.rows * r.cols * std::ldexp(1.0, levels_of(w));
  const double step = std::min(std::min(w.scale, kMaxLowBandScale) / std::sqrt(gain_of(w, k) * s.weight), finest_needed);
  const BandChoice& b = s.band(k) = choose_band(hi, lo, step, 0.0);
  double carry = 0;
  for_band(w, k, [&](std::uint32_t y, std::uint32_t x) {
    const double v = s.coeffs[y * pw + x] + shift + carry;
    const int n = quantize_value(v, b, 0.0);
    carry = v - reconstruct(n, b);
    s.code(y, x) = static_cast<std::int8_t>(n);
  });
}

// Finest levels whose bands hold nothing but zeros: dropping them costs no
// distortion and saves their zerotree symbols.
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
    double hi = 0, lo = 0;
    for_band(w, k, [&](std::uint32_t y, std::uint32_t x) {
      hi = std::max(hi, double{s.coeffs[y * pw + x]});
      lo = std::min(lo, double{s.coeffs[y * pw + x]});
    });
    s.band(k) = choose_band(hi, lo, w.scale / std::sqrt(gain_of(w, k) * s.weight), w.dead_zone);
    for_band(w, k, [&](std::uint32_t y, std::uint32_t x) {
      s.code(y, x) = static_cast<std::int8_t>(quantize_value(s.coeffs[y * pw + x], s.band(k), w.dead_zone));
    });
  }
  quantize_low_band(w, c);
  s.dropped = all_zero_levels(w, c);
}

// Tree pruning by dynamic programming, finest coded level first: each node
// either keeps its value (or the next one toward zero) and its children's
// best choices, or becomes a zerotree root that zeroes everything below it.
// Distortion is the coefficient error weighted by synthesis gain and colour
// weight, rate the symbol costs of the previous coded pass. The node shapes
// follow the encoder's zerotree marking (codec::may_be_zerotree_root).
void prune(Work& w, std::size_t c, double lambda) {
  ChannelState& s = w.ch[c];
  const int levels = levels_of(w);
  const std::uint32_t pw = w.params.padded_width, ph = w.params.padded_height;
  const std::size_t size = std::size_t{pw} * ph;
  std::vector<float> best(size, 0.0f), zeroed(size, 0.0f);
  std::vector<std::uint8_t> root(size, 0);
  const double root_bits = s.value_bits(format::kZeroTreeRoot);
  for (int l = s.dropped; l < levels; ++l) {
    const std::uint32_t band_rows = ph >> (l + 1), band_cols = pw >> (l + 1);
    for (int o = 0; o < 3; ++o) {
      const int k = 3 * l + o;
      const BandChoice& b = s.band(k);
      const double weight = gain_of(w, k) * s.weight;
      for_band(w, k, [&](std::uint32_t y, std::uint32_t x) {
        const std::size_t at = std::size_t{y} * pw + x;
        const double v = s.coeffs[at];
        double child_best = 0, child_zeroed = 0;
        if (l > s.dropped) {
          for (std::uint32_t dy = 0; dy < 2; ++dy) {
            for (std::uint32_t dx = 0; dx < 2; ++dx) {
              const std::size_t child = std::size_t{2 * y + dy} * pw + 2 * x + dx;
              child_best += best[child];
              child_zeroed += zeroed[child];
            }
          }
        }
        const int n = s.code(y, x);
        double keep = weight * (v - reconstruct(n, b)) * (v - reconstruct(n, b)) + lambda * s.value_bits(n);
        int chosen = n;
        if (n != 0) {
          const int m = n > 0 ? n - 1 : n + 1;
          const double e = v - reconstruct(m, b);
          const double alt = weight * e * e + lambda * s.value_bits(m);
          if (alt < keep) keep = alt, chosen = m;
        }
        keep += child_best;
        const double zero_cost = weight * v * v + child_zeroed;
        const bool may_root = codec::may_be_zerotree_root(l, y, x, band_rows, band_cols);
        const double tree = zero_cost + lambda * root_bits;
        s.code(y, x) = static_cast<std::int8_t>(chosen);
        if (may_root && tree <= keep) {
          root[at] = 1;
          best[at] = static_cast<float>(tree);
        } else {
          best[at] = static_cast<float>(keep);
        }
        zeroed[at] = static_cast<float>(zero_cost);
      });
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

// The header fields of the current choices.
void store_choices(Work& w) {
  for (std::size_t c = 0; c < w.planes; ++c) {
    format::ChannelParams& cp = w.params.channels[c];
    const auto bands = static_cast<std::size_t>(format::subband_count(levels_of(w)));
    for (std::size_t k = 0; k < bands; ++k) {
      cp.quant_vector[k] = w.ch[c].bands[k].vector;
      cp.band_max[k] = w.ch[c].bands[k].max;
      cp.band_min[k] = w.ch[c].bands[k].min;
    }
    cp.dropped_levels = w.ch[c].dropped;
  }
}

// The picture exactly as every decoder will show it, through the decoder's line synthesis and
// colour conversion, and its mean error per channel (R, G, B or grey) and squared error sum.
StatusCode decode_own(Work& w, std::array<double, 3>& mean_error, double& squared_error) {
  store_choices(w);
  std::array<decoder::LineSynthesis, format::kChannelCount> lines;
  for (std::size_t c = 0; c < w.planes; ++c) {
    VARNIC_RETURN_IF_ERROR(lines[c].start(w.ch[c].quantized, w.params, static_cast<Channel>(c)));
  }
  const codec::PictureRows& p = w.picture;
  const std::int32_t offset = w.params.channel(Channel::kY).pixel_offset;
  const std::size_t bytes = w.planes == 1 ? 1 : 3;
  const std::size_t row_bytes = std::size_t{p.width} * bytes;
  std::vector<std::uint8_t> decoded(row_bytes);
  std::array<double, 3> sum{};
  squared_error = 0;
  for (std::uint32_t y = 0; y < p.height; ++y) {
    std::array<const std::int16_t*, format::kChannelCount> samples{};
    for (std::size_t c = 0; c < w.planes; ++c) samples[c] = lines[c].next_row();
    if (w.planes == 1) {
      display::samples_to_grey_row(samples[0], p.width, offset, decoded.data());
    } else {
      display::samples_to_colour_row(samples[0], samples[1], samples[2], p.width, offset, p.rgb_order,
                                     decoded.data());
    }
    const std::uint8_t* a = p.bottom_row(y);
    const std::uint8_t* b = decoded.data();
    // Whole rows in integers: a row's sums fit easily.
    std::array<std::int64_t, 3> row_sum{};
    std::int64_t row_squares = 0;
    for (std::size_t i = 0; i < row_bytes; i += bytes) {
      for (std::size_t c = 0; c < bytes; ++c) {
        const int e = int{b[i + c]} - int{a[i + c]};
        row_sum[c] += e;
        row_squares += e * e;
      }
    }
    for (std::size_t c = 0; c < bytes; ++c) sum[c] += static_cast<double>(row_sum[c]);
    squared_error += static_cast<double>(row_squares);
  }
  const double n = static_cast<double>(p.width) * p.height;
  mean_error = {sum[0] / n, sum[1] / n, sum[2] / n};
  if (bytes == 3 && !p.rgb_order) std::swap(mean_error[0], mean_error[2]);  // report R, G, B
  if (bytes == 1) mean_error[1] = mean_error[2] = 0;
  return StatusCode::kOk;
}

// Progress over an optimised encode: a fixed count of steps, reported on the calling thread; a
// refusal ends the encode with kCancelled.
class Steps {
 public:
  Steps(const codec::EncodeRequest& options, int total) : options_(options), total_(total) {}
  StatusCode advance(int count = 1) {
    if (count <= 0) return StatusCode::kOk;
    done_ = std::min(done_ + count, total_);
    if (options_.progress && !options_.progress(done_, total_)) return StatusCode::kCancelled;
    return StatusCode::kOk;
  }

 private:
  const codec::EncodeRequest& options_;
  int total_ = 0;
  int done_ = 0;
};

// Steps of one attempt at a level: the analysis, each pruning round, each measured mean
// correction and the final pass.
int steps_per_attempt(int level) { return 2 + (level >= 2 ? level - 1 : 0) + kCorrectionRounds[level]; }

// Moves the mean of each decoded channel onto the picture's by shifting the
// low bands (a constant added to a plane changes its low band alone, by
// 2^levels per unit). The decoder's rounding makes the response a staircase,
// so with `keep_best` every state is measured, the best one is kept, and a
// step that does not improve on it is halved; without it (level 1, for time)
// the last correction is applied unmeasured.
StatusCode correct_means(Work& w, int rounds, bool keep_best, Steps& steps) {
  std::array<double, 3> best_offsets{}, best_error{};
  double best = INFINITY, gain = 1;
  for (int round = 0; round < rounds; ++round) {
    std::array<double, 3> error{};
    double sse = 0;
    VARNIC_RETURN_IF_ERROR(decode_own(w, error, sse));
    VARNIC_RETURN_IF_ERROR(steps.advance());
    const double worst = std::max({std::fabs(error[0]), std::fabs(error[1]), std::fabs(error[2])});
    if (worst < best) {
      best = worst;
      best_error = error;
      for (std::size_t c = 0; c < w.planes; ++c) best_offsets[c] = w.ch[c].offset;
    } else {
      gain /= 2;
    }
    if (best < kMeanErrorGoal || (keep_best && round + 1 == rounds)) {
      VARNIC_RETURN_IF_ERROR(steps.advance(rounds - round - 1));
      break;
    }
    for (std::size_t c = 0; c < w.planes; ++c) {
      const double shift = w.planes == 1 ? best_error[0]
                                         : forward_matrix()[c][0] * best_error[0] + forward_matrix()[c][1] * best_error[1] +
                                               forward_matrix()[c][2] * best_error[2];
      w.ch[c].offset = best_offsets[c] - gain * shift;
      quantize_low_band(w, c);
    }
  }
  for (std::size_t c = 0; c < w.planes && keep_best; ++c) {
    if (w.ch[c].offset == best_offsets[c]) continue;
    w.ch[c].offset = best_offsets[c];
    quantize_low_band(w, c);
  }
  return StatusCode::kOk;
}

// Refreshes every channel's symbol costs from the codes the encoder would write: its plane marked
// as the encoder marks it, the coded positions counted (skip markers and dropped levels excluded).
StatusCode measure_symbol_costs(Work& w) {
  SymbolPlane marked;
  VARNIC_RETURN_IF_ERROR(marked.allocate(w.params.padded_width, w.params.padded_height));
  for (std::size_t c = 0; c < w.planes; ++c) {
    std::copy_n(w.ch[c].quantized.data(), marked.size(), marked.data());
    codec::mark_zerotree_codes(marked, levels_of(w), w.ch[c].dropped);
    std::array<double, kSymbols> count{};
    for (int k = 3 * w.ch[c].dropped; k < format::subband_count(levels_of(w)); ++k) {
      for_band(w, k, [&](std::uint32_t y, std::uint32_t x) {
        const int v = marked.row(y)[x];
        if (v != format::kZeroTreeInside) count[symbol_index(v)] += 1;
      });
    }
    double total = 0;
    for (double& n : count) total += (n += 0.5);
    for (std::size_t v = 0; v < count.size(); ++v) w.ch[c].bits[v] = std::log2(total / count[v]);
  }
  return StatusCode::kOk;
}

// The file of the current choices, through the encoder's own marking, symbol tables and coder.
StatusCode write_stream(Work& w, const codec::EncodeRequest& options, codec::EncodedPicture& out) {
  store_choices(w);
  codec::EncodeRequest request;
  request.comment = options.comment;
  request.threads = options.threads;
  request.keep_planes = false;
  const codec::ChannelCodes chosen = [&w](int c, CodecParams&, SymbolPlane& codes) {
    std::copy_n(w.ch[static_cast<std::size_t>(c)].quantized.data(), codes.size(), codes.data());
    return StatusCode::kOk;
  };
  return codec::encode_codes(w.params, chosen, request, out);
}

struct Attempt {
  codec::EncodedPicture encoded;
  double cost = 0;  // squared error / 3 + lambda * bits, for comparing attempts
  Choices choices;
};

StatusCode run_attempt(const codec::PictureRows& picture, const CodecParams& settings, int levels, int level,
                       int quality, const codec::EncodeRequest& options, Steps& steps, Attempt& out) {
  CodecParams base = settings;
  base.total_levels = static_cast<std::uint16_t>(levels);
  Work w{picture, {}, picture.bits_per_pixel == 8 ? 1u : 3u, distortion_scale(quality), 0.0, {}};
  const std::uint16_t mode = w.planes == 1 ? format::kImageModeGrey : format::kImageModeColour;
  VARNIC_RETURN_IF_ERROR(codec::make_working_params(base, picture.width, picture.height, mode, w.params));
  for (std::size_t c = 0; c < w.planes; ++c) {
    w.ch[c].weight = w.planes == 1 ? 1.0 : kChannelWeight[c];
    w.ch[c].offset = w.planes == 1 ? kTypicalGreyOffset : kTypicalOffset[c];
    VARNIC_RETURN_IF_ERROR(w.ch[c].quantized.allocate(w.params.padded_width, w.params.padded_height));
  }
  w.dead_zone = level >= 2 ? kPrunedDeadZone : kDeadZone;
  analyse(w);
  for (std::size_t c = 0; c < w.planes; ++c) quantize_channel(w, c);
  VARNIC_RETURN_IF_ERROR(steps.advance());
  const double lambda = kLambdaPerE2 * w.scale * w.scale;
  if (level >= 2) {
    // Symbol costs come from the marked codes; pruning changes them, so level 3 prunes again with
    // the costs of the pruned choices.
    for (int round = 0; round < level - 1; ++round) {
      VARNIC_RETURN_IF_ERROR(measure_symbol_costs(w));
      for (std::size_t c = 0; c < w.planes; ++c) {
        if (round > 0) quantize_channel(w, c);
        prune(w, c, lambda);
      }
      VARNIC_RETURN_IF_ERROR(steps.advance());
    }
  }
  VARNIC_RETURN_IF_ERROR(correct_means(w, kCorrectionRounds[level], level >= 2, steps));
  // Level 3 compares attempts by their decoded error.
  std::array<double, 3> error{};
  double sse = 0;
  if (level >= 3) VARNIC_RETURN_IF_ERROR(decode_own(w, error, sse));
  VARNIC_RETURN_IF_ERROR(write_stream(w, options, out.encoded));
  VARNIC_RETURN_IF_ERROR(steps.advance());
  out.choices.distortion_scale = w.scale;
  out.choices.levels = levels_of(w);
  for (std::size_t c = 0; c < w.planes; ++c) {
    out.choices.dropped[c] = w.ch[c].dropped;
    out.choices.offsets[c] = w.ch[c].offset;
  }
  out.cost = sse / 3 + lambda * 8.0 * static_cast<double>(out.encoded.stream.size());
  return StatusCode::kOk;
}

}  // namespace

double distortion_scale(int quality) {
  return 28.0 * std::pow(10.0, (50.0 - quality) / 42.0);
}

double synthesis_gain(int total_levels, int subband) {
  if (subband == format::low_band_index(total_levels)) return kLowGain[total_levels - 1];
  return kDetailGain[subband / 3][subband % 3];
}

StatusCode encode_optimized(const codec::PictureRows& picture, const CodecParams& settings, int level,
                       int quality, const codec::EncodeRequest& options, codec::EncodedPicture& out,
                       Choices* choices) {
  if (level < 1 || level > kMaxOptimizeLevel) return StatusCode::kEncodeFailed;
  if (quality < codec::kMinQuality || quality > codec::kMaxQuality) return StatusCode::kQualityOutOfRange;
  if (picture.data == nullptr || (picture.bits_per_pixel != 24 && picture.bits_per_pixel != 8)) {
    return StatusCode::kBadPictureBuffer;
  }
  if (options.comment.size() > format::kMaxCommentLength) return StatusCode::kCommentTooLong;
  try {
    // Level 3 tries one level fewer (more low band) and one more (deeper zerotrees).
    const int asked = settings.total_levels;
    const std::vector<int> counts = level >= 3 ? std::vector<int>{asked, asked - 1, asked + 1} : std::vector<int>{asked};
    Steps steps(options, static_cast<int>(counts.size()) * steps_per_attempt(level));
    Attempt best;
    for (const int levels : counts) {
      if (levels != asked && (levels < codec::kMinLevels || levels > codec::kMaxLevels ||
                              codec::effective_levels(picture.width, picture.height, levels) != levels)) {
        VARNIC_RETURN_IF_ERROR(steps.advance(steps_per_attempt(level)));
        continue;
      }
      Attempt attempt;
      VARNIC_RETURN_IF_ERROR(run_attempt(picture, settings, levels, level, quality, options, steps, attempt));
      if (levels == asked || attempt.cost < best.cost) best = std::move(attempt);
    }
    out = std::move(best.encoded);
    if (choices != nullptr) *choices = best.choices;
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  return StatusCode::kOk;
}

}  // namespace varnic::optimize
