#include "codec/forward_wavelet.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace varnic::codec {
namespace {

// Low-pass outputs use taps (-1, 2, 6, 2, -1), high-pass (1, -2, 1), with the
// edge sample repeated beyond the region; the boundary outputs have their own
// formulas so the inner loops need no tests. s and t scale low and high pass.

// Vertical pass: columns of the region, processed row by row so the inner
// loops run along contiguous memory.
void VerticalPass(const float* plane, std::size_t stride, std::uint32_t rows,
                  std::uint32_t cols, float* temp) {
  constexpr double s = 1.0 / 8.0;
  constexpr double t = 1.0 / 4.0;
  const std::uint32_t half = rows / 2;
  auto in = [&](std::uint32_t r) { return plane + r * stride; };
  auto low = [&](std::uint32_t k) { return temp + std::size_t{k} * cols; };
  auto high = [&](std::uint32_t k) { return temp + std::size_t{half + k} * cols; };

  {
    const float* x0 = in(0);
    const float* x1 = in(1);
    const float* x2 = in(2);
    const float* x3 = in(3);
    float* l = low(0);
    float* h = high(0);
    for (std::uint32_t j = 0; j < cols; ++j) {
      l[j] = static_cast<float>(
          ((3.0 * x1[j] + static_cast<double>(x2[j])) * 2.0 - x3[j] + x0[j]) * s);
      h[j] = static_cast<float>((static_cast<double>(x1[j]) - x0[j]) * t);
    }
  }
  for (std::uint32_t k = 1; k + 1 < half; ++k) {
    const float* xm1 = in(2 * k - 1);
    const float* x0 = in(2 * k);
    const float* x1 = in(2 * k + 1);
    const float* x2 = in(2 * k + 2);
    const float* x3 = in(2 * k + 3);
    float* l = low(k);
    for (std::uint32_t j = 0; j < cols; ++j) {
      l[j] = static_cast<float>(
          (((static_cast<double>(x2[j]) + x0[j]) + 3.0 * x1[j]) * 2.0 -
           (static_cast<double>(x3[j]) + xm1[j])) *
          s);
    }
  }
  {
    const float* a = in(rows - 1);
    const float* b = in(rows - 3);
    const float* c = in(rows - 2);
    float* l = low(half - 1);
    for (std::uint32_t j = 0; j < cols; ++j) {
      l[j] = static_cast<float>(((7.0 * a[j] - b[j]) + 2.0 * c[j]) * s);
    }
  }
  for (std::uint32_t k = 1; k < half; ++k) {
    const float* xm1 = in(2 * k - 1);
    const float* x0 = in(2 * k);
    const float* x1 = in(2 * k + 1);
    float* h = high(k);
    for (std::uint32_t j = 0; j < cols; ++j) {
      h[j] = static_cast<float>(
          ((static_cast<double>(x1[j]) + xm1[j]) - 2.0 * x0[j]) * t);
    }
  }
}

// Horizontal pass over one row of n samples into low and high halves. The
// row is first split into its even and odd samples so that the filter loops
// run over contiguous memory and vectorise; `split` holds n floats.
inline void HorizontalRow(const float* x, std::uint32_t n, float* low, float* high,
                          float* split) {
  constexpr double s = 1.0 / 4.0;
  constexpr double t = 1.0 / 2.0;
  const std::uint32_t half = n / 2;
  float* e = split;          // e[k] = x[2k]
  float* o = split + half;   // o[k] = x[2k + 1]
  for (std::uint32_t k = 0; k < half; ++k) {
    e[k] = x[2 * k];
    o[k] = x[2 * k + 1];
  }
  low[0] = static_cast<float>(((3.0 * o[0] + static_cast<double>(e[1])) * 2.0 - o[1] + e[0]) * s);
  for (std::uint32_t k = 1; k + 1 < half; ++k) {
    low[k] = static_cast<float>(
        (((static_cast<double>(e[k + 1]) + e[k]) + 3.0 * o[k]) * 2.0 -
         (static_cast<double>(o[k + 1]) + o[k - 1])) *
        s);
  }
  low[half - 1] = static_cast<float>(((7.0 * x[n - 1] - x[n - 3]) + 2.0 * x[n - 2]) * s);
  high[0] = static_cast<float>((static_cast<double>(o[0]) - e[0]) * t);
  for (std::uint32_t k = 1; k < half; ++k) {
    high[k] = static_cast<float>(((static_cast<double>(o[k]) + o[k - 1]) - 2.0 * e[k]) * t);
  }
}

}  // namespace

void AnalyseLevel(float* plane, std::size_t stride, std::uint32_t rows, std::uint32_t cols,
                  float* temp) {
  VerticalPass(plane, stride, rows, cols, temp);
  const std::uint32_t half = cols / 2;
  float* split = temp + std::size_t{rows} * cols;
  for (std::uint32_t r = 0; r < rows; ++r) {
    float* out = plane + r * stride;
    HorizontalRow(temp + std::size_t{r} * cols, cols, out, out + half, split);
  }
}

void ThresholdLevel(float* plane, std::size_t stride, std::uint32_t rows, std::uint32_t cols,
                    std::uint16_t threshold) {
  if (threshold == 0) return;
  // |trunc(f)| < T is the same as |f| < T for a whole-number T.
  const float limit = static_cast<float>(threshold);
  auto clear_small = [limit](float* p, std::uint32_t n) {
    for (std::uint32_t j = 0; j < n; ++j) {
      if (std::fabs(p[j]) < limit) p[j] = 0.0f;
    }
  };
  const std::uint32_t half_rows = rows / 2;
  const std::uint32_t half_cols = cols / 2;
  for (std::uint32_t r = 0; r < half_rows; ++r) {
    clear_small(plane + r * stride + half_cols, cols - half_cols);
  }
  for (std::uint32_t r = half_rows; r < rows; ++r) clear_small(plane + r * stride, cols);
}

Status TransformWorkspace::Reserve(std::uint32_t width, std::uint32_t height) {
  const std::size_t samples = std::size_t{width} * height;
  if (samples <= capacity_ && width <= width_) return Status::kOk;
  plane_.reset();
  temp_.reset();
  capacity_ = 0;
  width_ = 0;
  // new[] without () leaves the floats uninitialised: no zeroing pass.
  plane_.reset(new (std::nothrow) float[samples]);
  temp_.reset(new (std::nothrow) float[samples + width]);
  if (!plane_ || !temp_) {
    plane_.reset();
    temp_.reset();
    return Status::kOutOfMemory;
  }
  capacity_ = samples;
  width_ = width;
  return Status::kOk;
}

Status TransformToFloat(const CoefficientPlane& samples, int total_levels,
                        const std::uint16_t* thresholds, TransformWorkspace& workspace) {
  VARNIC_RETURN_IF_ERROR(workspace.Reserve(samples.width_, samples.height_));
  float* plane = workspace.plane();
  std::copy(samples.samples_.begin(), samples.samples_.end(), plane);
  std::uint32_t rows = samples.height_;
  std::uint32_t cols = samples.width_;
  for (int l = 0; l < total_levels; ++l) {
    // One buffer the size of the first level serves every level.
    AnalyseLevel(plane, samples.width_, rows, cols, workspace.temp());
    ThresholdLevel(plane, samples.width_, rows, cols, thresholds[l]);
    rows /= 2;
    cols /= 2;
  }
  return Status::kOk;
}

Status TransformToFloat(const CoefficientPlane& samples, int total_levels,
                        const std::uint16_t* thresholds, std::vector<float>& out) {
  TransformWorkspace workspace;
  VARNIC_RETURN_IF_ERROR(TransformToFloat(samples, total_levels, thresholds, workspace));
  try {
    out.assign(workspace.plane(), workspace.plane() + samples.size());
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }
  return Status::kOk;
}

BandRect SubbandRect(std::uint32_t padded_width, std::uint32_t padded_height, int total_levels,
                     int subband) {
  BandRect r;
  if (subband >= LowBandIndex(total_levels)) {
    r.rows = padded_height >> total_levels;
    r.cols = padded_width >> total_levels;
    return r;
  }
  const int level = subband / 3;
  const auto orientation = static_cast<Orientation>(subband % 3);
  r.rows = padded_height >> (level + 1);
  r.cols = padded_width >> (level + 1);
  if (orientation != Orientation::kH) r.row = r.rows;
  if (orientation != Orientation::kV) r.col = r.cols;
  return r;
}

void MeasureBand(const float* plane, std::size_t stride, BandRect band, std::int16_t& band_max,
                 std::int16_t& band_min) {
  // Keeping the truncated running extreme and comparing each f with it ends
  // in trunc(largest f) and trunc(smallest f), so the extremes are found
  // first and truncated once.
  float max = -30000.0f;
  float min = 30000.0f;
  for (std::uint32_t r = 0; r < band.rows; ++r) {
    const float* p = plane + (band.row + r) * stride + band.col;
    for (std::uint32_t j = 0; j < band.cols; ++j) {
      max = p[j] > max ? p[j] : max;
      min = p[j] < min ? p[j] : min;
    }
  }
  max = std::trunc(max);
  min = std::trunc(min);
  band_max = static_cast<std::int16_t>(max);
  band_min = static_cast<std::int16_t>(min);
}

void QuantizeBand(CoefficientPlane& out, const float* plane, std::int16_t band_max,
                  std::int16_t band_min, BandRect band, std::uint16_t quant_step) {
  // Scales are float32; the products with f and the +-0.5 are formed in double.
  const float scale_pos =
      band_max != 0 ? static_cast<float>(quant_step) / static_cast<float>(band_max) : 0.0f;
  const float scale_neg =
      band_min != 0 ? -static_cast<float>(quant_step) / static_cast<float>(band_min) : 0.0f;
  const double sp = scale_pos;
  const double sn = scale_neg;
  constexpr double kLow = kMinQuantized;
  constexpr double kHigh = kMaxQuantized;
  const std::size_t stride = out.width_;
  for (std::uint32_t r = 0; r < band.rows; ++r) {
    const float* p = plane + (band.row + r) * stride + band.col;
    std::int16_t* q = out.row(band.row + r) + band.col;
    for (std::uint32_t j = 0; j < band.cols; ++j) {
      // Both products are formed so the loop has no branches; only the one
      // matching the sign is kept. Tiny band extremes scale up to about
      // twice the step; clamping keeps the value a byte symbol distinct from
      // the markers. With whole-number bounds, clamping and then truncating
      // (the conversion rounds toward zero) equals truncating first.
      const double f = p[j];
      const double pos = f * sp + 0.5;
      const double neg = f * sn - 0.5;
      double v = f > 0.0 ? pos : (f < 0.0 ? neg : 0.0);
      v = v < kLow ? kLow : (v > kHigh ? kHigh : v);
      q[j] = static_cast<std::int16_t>(v);
    }
  }
}

void QuantizeChannel(CoefficientPlane& out, const float* plane, int total_levels,
                     ChannelParams& channel) {
  auto quantize = [&](int k) {
    const BandRect band = SubbandRect(out.width_, out.height_, total_levels, k);
    MeasureBand(plane, out.width_, band, channel.band_max_[k], channel.band_min_[k]);
    QuantizeBand(out, plane, channel.band_max_[k], channel.band_min_[k], band,
                 channel.quant_vector_[k]);
  };
  for (int l = 0; l < total_levels; ++l) {
    quantize(SubbandIndex(l, Orientation::kV));
    quantize(SubbandIndex(l, Orientation::kH));
    quantize(SubbandIndex(l, Orientation::kD));
  }
  quantize(LowBandIndex(total_levels));
}

Status ForwardTransformChannel(CoefficientPlane& plane, int total_levels,
                               const std::uint16_t* thresholds, ChannelParams& channel,
                               TransformWorkspace& workspace) {
  VARNIC_RETURN_IF_ERROR(TransformToFloat(plane, total_levels, thresholds, workspace));
  QuantizeChannel(plane, workspace.plane(), total_levels, channel);
  return Status::kOk;
}

Status ForwardTransformChannel(CoefficientPlane& plane, int total_levels,
                               const std::uint16_t* thresholds, ChannelParams& channel) {
  TransformWorkspace workspace;
  return ForwardTransformChannel(plane, total_levels, thresholds, channel, workspace);
}

void MarkZerotrees(CoefficientPlane& plane, int total_levels, int dropped_levels) {
  const int levels = total_levels;
  if (levels < 2) return;
  const int coded = std::max(levels - dropped_levels, 0);  // K, scales 1..K are coded
  const std::uint32_t pw = plane.width_;
  const std::uint32_t ph = plane.height_;
  auto rows_of = [&](int scale) { return ph >> (levels - scale); };
  auto cols_of = [&](int scale) { return pw >> (levels - scale); };

  // zero_tree[pos]: every descendant of pos down to scale K is zero (the
  // TreeIsZero test), computed bottom-up from the unmarked values. Marking
  // never touches the descendants of a node before that node is visited, so
  // the raw values are what the coarse-to-fine test would read.
  // Only scales 1..K-1 need the map; they lie in the top rows_of(K-1) rows.
  std::vector<std::uint8_t> zero_tree;
  if (coded > 1) zero_tree.assign(std::size_t{rows_of(coded - 1)} * pw, 0);
  for (int t = coded - 1; t >= 1; --t) {
    const std::uint32_t h = rows_of(t);
    const std::uint32_t w = cols_of(t);
    const bool children_are_leaves = t + 1 >= coded;
    for (std::uint32_t i = 0; i < h; ++i) {
      const std::int16_t* c0 = plane.row(2 * i);
      const std::int16_t* c1 = plane.row(2 * i + 1);
      // Children's map rows exist only when the children are not leaves.
      const std::size_t z0 = std::size_t{2 * i} * pw;
      const std::size_t z1 = z0 + pw;
      std::uint8_t* z = zero_tree.data() + std::size_t{i} * pw;
      const std::uint32_t j_start = i < h / 2 ? w / 2 : 0;
      for (std::uint32_t j = j_start; j < w; ++j) {
        const std::uint32_t a = 2 * j;
        bool zero = (c0[a] | c0[a + 1] | c1[a] | c1[a + 1]) == 0;
        if (zero && !children_are_leaves) {
          zero = zero_tree[z0 + a] && zero_tree[z0 + a + 1] && zero_tree[z1 + a] &&
                 zero_tree[z1 + a + 1];
        }
        z[j] = zero ? 1 : 0;
      }
    }
  }

  for (int s = 1; s < levels; ++s) {
    const std::uint32_t h = rows_of(s);
    const std::uint32_t w = cols_of(s);
    for (std::uint32_t i = 0; i < h; ++i) {
      std::int16_t* row = plane.row(i);
      for (std::uint32_t j = 0; j < w; ++j) {
        // Inclusive bounds: row h/2 of v, column w/2 of h and the first d
        // coefficient are never roots either.
        if (i <= h / 2 && j <= w / 2) continue;
        if (row[j] != 0) continue;
        if (coded > s && !zero_tree[std::size_t{i} * pw + j]) continue;
        row[j] = kZeroTreeRoot;
        for (int m = 1; m <= coded - s; ++m) {
          const std::uint32_t side = 1u << m;
          for (std::uint32_t y = side * i; y < side * (i + 1); ++y) {
            std::int16_t* r = plane.row(y);
            std::fill(r + side * j, r + side * (j + 1), kZeroTreeInside);
          }
        }
      }
    }
  }
}

}  // namespace varnic::codec

