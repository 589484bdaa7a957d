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
#include "optimize/work.h"

namespace varnic::optimize {
namespace {

using format::BandRect;
using format::Channel;
using format::CodecParams;
using format::StatusCode;
using format::SymbolPlane;

// Energy gains of the decoder's synthesis per unit coefficient (measured with
// impulses far from the edges; the optimizer's tests measure them again). Detail
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

// Quantizer shape of level 1: below kDeadZone steps a detail coefficient becomes 0. Level 2 and up
// start from the nearest values and let the rate-distortion choices decide.
constexpr double kDeadZone = 0.62;
// Lagrange multiplier of the rate-distortion choices, in units of E^2 per bit.
constexpr double kLambdaPerE2 = 0.1;
// --tune ssim: coarser levels get coarser steps (tuned on the tuning pictures): the index
// forgives error in the low frequencies that the distortion scale would spend bits on.
constexpr double kSsimLevelStepGrowth = 1.1;
// Rounds of tree choices, value choices in coding order and reconstruction points per level.
constexpr int kChoiceRounds[kMaxOptimizeLevel + 1] = {0, 0, 1, 2};
// The mean colour correction stops once every channel is this close.
constexpr double kMeanErrorGoal = 0.1;
// Measured states of the mean colour correction (the first has no
// correction); higher levels take several, since clamping at 0 and 255 and
// the inverse colour rounding are not linear.
constexpr int kCorrectionRounds[kMaxOptimizeLevel + 1] = {0, 1, 4, 6};
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

// One row of a channel's samples as the decoder's inverse should see them: the exact inverse of its
// colour matrix (no rounding), padding that continues the edge so that it costs no detail bits.
void sample_row(const Work& w, std::size_t c, std::uint32_t y, float* out) {
  const codec::PictureRows& p = w.picture;
  const std::uint8_t* src = p.bottom_row(std::min(y, p.height - 1));
  const auto shift = static_cast<float>(w.params.channel(Channel::kY).pixel_offset);
  if (w.planes == 1) {
    for (std::uint32_t x = 0; x < p.width; ++x) out[x] = static_cast<float>(src[x]) - shift;
  } else {
    float f[3];
    for (std::size_t j = 0; j < 3; ++j) f[j] = static_cast<float>(forward_matrix()[c][j]);
    const int red = p.rgb_order ? 0 : 2, blue = 2 - red;
    for (std::uint32_t x = 0; x < p.width; ++x) {
      const std::uint8_t* px = src + 3 * std::size_t{x};
      const float r = px[red] - shift, g = px[1] - shift, b = px[blue] - shift;
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

// The picture exactly as every decoder will show it, through the one decode driver, and its mean
// error per channel (R, G, B or grey) and squared error sum.
StatusCode decode_own(Work& w, std::array<double, 3>& mean_error, double& squared_error) {
  store_choices(w);
  decoder::CodeSet codes;
  for (std::size_t c = 0; c < w.planes; ++c) {
    VARNIC_RETURN_IF_ERROR(decoder::codes_from_plane(w.ch[c].quantized, w.params, static_cast<Channel>(c), codes[c]));
  }
  const codec::PictureRows& p = w.picture;
  const std::size_t bytes = w.planes == 1 ? 1 : 3;
  const std::size_t row_bytes = std::size_t{p.width} * bytes;
  std::array<double, 3> sum{};
  squared_error = 0;
  display::DecodeRequest request;
  request.rgb_order = p.rgb_order;
  display::RowSink sink;
  sink.row = [&](std::uint32_t y, std::span<const std::uint8_t> decoded) {
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
    return true;
  };
  VARNIC_RETURN_IF_ERROR(display::decode_codes(codes, w.params, format::kCurrentMagic, request, sink));
  const double n = static_cast<double>(p.width) * p.height;
  mean_error = {sum[0] / n, sum[1] / n, sum[2] / n};
  if (bytes == 3 && !p.rgb_order) std::swap(mean_error[0], mean_error[2]);  // report R, G, B
  if (bytes == 1) mean_error[1] = mean_error[2] = 0;
  return StatusCode::kOk;
}

// Progress over an optimized encode: a fixed count of steps, reported on the calling thread; a
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
int steps_per_attempt(int level) { return 2 + kChoiceRounds[level] + kCorrectionRounds[level]; }

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
                       int quality, Tune tune, const codec::EncodeRequest& options, Steps& steps, Attempt& out) {
  CodecParams base = settings;
  base.total_levels = static_cast<std::uint16_t>(levels);
  Work w(picture);
  w.planes = picture.bits_per_pixel == 8 ? 1u : 3u;
  w.tune = tune;
  w.scale = distortion_scale(quality);
  const std::uint16_t mode = w.planes == 1 ? format::kImageModeGrey : format::kImageModeColour;
  VARNIC_RETURN_IF_ERROR(codec::make_working_params(base, picture.width, picture.height, mode, w.params));
  for (std::size_t c = 0; c < w.planes; ++c) {
    w.ch[c].weight = w.planes == 1 ? 1.0 : kChannelWeight[c];
    w.ch[c].offset = w.planes == 1 ? kTypicalGreyOffset : kTypicalOffset[c];
    VARNIC_RETURN_IF_ERROR(w.ch[c].quantized.allocate(w.params.padded_width, w.params.padded_height));
  }
  w.dead_zone = level >= 2 ? 0.0 : kDeadZone;
  w.lambda = kLambdaPerE2 * w.scale * w.scale;
  analyse(w);
  if (tune == Tune::kSsim) {
    compute_masking(w);
    w.level_step_growth = kSsimLevelStepGrowth;
  }
  for (std::size_t c = 0; c < w.planes; ++c) quantize_channel(w, c);
  VARNIC_RETURN_IF_ERROR(steps.advance());
  // Each round: the trees with the costs of the last pass, every value at the cost the coder
  // charges at its point, and the reconstruction points where the chosen values' coefficients
  // lie (the next round chooses values against them).
  for (int round = 0; round < kChoiceRounds[level]; ++round) {
    for (std::size_t c = 0; c < w.planes; ++c) {
      if (round == 0) refine(w, c, false);
      prune(w, c);
      refine(w, c, true);
      fit_reconstruction(w, c);
    }
    VARNIC_RETURN_IF_ERROR(steps.advance());
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
  out.cost = sse / 3 + w.lambda * 8.0 * static_cast<double>(out.encoded.stream.size());
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
                            int quality, Tune tune, const codec::EncodeRequest& options, codec::EncodedPicture& out,
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
      VARNIC_RETURN_IF_ERROR(run_attempt(picture, settings, levels, level, quality, tune, options, steps, attempt));
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
