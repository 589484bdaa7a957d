// SPDX-License-Identifier: BSD-2-Clause
#include "codec/forward_wavelet.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/colour_transform.h"
#include "utils/memory.h"
#include "utils/wide_loops.h"

namespace varnic::codec {
namespace {

// Low-pass outputs use taps (-1, 2, 6, 2, -1), high-pass (1, -2, 1), with the
// edge sample repeated beyond the region; the boundary outputs have their own
// formulas so the inner loops need no tests. s and t scale low and high pass.

// Vertical pass: columns of the region, processed row by row so the inner
// loops run along contiguous memory.
VARNIC_WIDE_LOOPS void vertical_pass(const float* plane, std::size_t stride, std::uint32_t rows,
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

// Zeroes the samples whose magnitude is below the threshold.
// |trunc(f)| < T is the same as |f| < T for a whole-number T.
inline void clear_small(float* p, std::uint32_t n, float limit) {
  for (std::uint32_t j = 0; j < n; ++j) {
    if (std::fabs(p[j]) < limit) p[j] = 0.0f;
  }
}

// Columns are filtered in strips this wide: a strip of every row fits in the
// cache, and the rows of a strip are contiguous runs the prefetcher follows.
constexpr std::uint32_t kStripColumns = 64;

// Vertical pass over columns [c0, c0 + n) of the region, back into the plane.
void vertical_strip(float* plane, std::size_t stride, std::uint32_t rows, std::uint32_t c0,
                   std::uint32_t n, float* strip) {
  vertical_pass(plane + c0, stride, rows, n, strip);
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::copy_n(strip + std::size_t{r} * n, n, plane + r * stride + c0);
  }
}

// Scratch floats one worker needs for a region of this size.
std::size_t scratch_floats(std::uint32_t rows, std::uint32_t cols) {
  return std::size_t{rows} * std::min(cols, kStripColumns) + cols;
}

// One level, with the dead-zone threshold applied to the detail bands as
// each row comes out of the horizontal pass (threshold 0: none). Strips and
// rows are shared out among the pool's threads; every sample gets the same
// expression whatever the split.
void analyse_level_with(float* plane, std::size_t stride, std::uint32_t rows, std::uint32_t cols,
                      std::uint16_t threshold, WorkerPool* pool, TransformWorkspace* workspace,
                      float* single_scratch) {
  auto scratch = [&](int worker) {
    return workspace != nullptr ? workspace->scratch(worker) : single_scratch;
  };
  const std::uint32_t strips = (cols + kStripColumns - 1) / kStripColumns;
  auto vertical = [&](std::size_t begin, std::size_t end, int worker) {
    for (std::size_t k = begin; k < end; ++k) {
      const auto c0 = static_cast<std::uint32_t>(k * kStripColumns);
      vertical_strip(plane, stride, rows, c0, std::min(kStripColumns, cols - c0), scratch(worker));
    }
  };
  const float limit = static_cast<float>(threshold);
  const std::uint32_t half_rows = rows / 2;
  const std::uint32_t half_cols = cols / 2;
  auto horizontal = [&](std::size_t begin, std::size_t end, int worker) {
    for (std::size_t r = begin; r < end; ++r) {
      float* row = plane + r * stride;
      horizontal_row(row, cols, scratch(worker));
      if (threshold == 0) continue;
      if (r < half_rows) {
        clear_small(row + half_cols, cols - half_cols, limit);
      } else {
        clear_small(row, cols, limit);
      }
    }
  };
  utils::for_range(pool, strips, 1, vertical);
  utils::for_range(pool, rows, 16, horizontal);
}

}  // namespace

// The row is split into its even and odd samples first so that the filter
// loops run over contiguous memory and vectorise.
VARNIC_WIDE_LOOPS void horizontal_row(float* x, std::uint32_t n, float* split) {
  constexpr double s = 1.0 / 4.0;
  constexpr double t = 1.0 / 2.0;
  const std::uint32_t half = n / 2;
  float* e = split;          // e[k] = x[2k]
  float* o = split + half;   // o[k] = x[2k + 1]
  for (std::uint32_t k = 0; k < half; ++k) {
    e[k] = x[2 * k];
    o[k] = x[2 * k + 1];
  }
  float* low = x;
  float* high = x + half;
  low[0] = static_cast<float>(((3.0 * o[0] + static_cast<double>(e[1])) * 2.0 - o[1] + e[0]) * s);
  for (std::uint32_t k = 1; k + 1 < half; ++k) {
    low[k] = static_cast<float>(
        (((static_cast<double>(e[k + 1]) + e[k]) + 3.0 * o[k]) * 2.0 -
         (static_cast<double>(o[k + 1]) + o[k - 1])) *
        s);
  }
  // x[n - 1], x[n - 3] and x[n - 2] of the unsplit row.
  low[half - 1] =
      static_cast<float>(((7.0 * o[half - 1] - o[half - 2]) + 2.0 * e[half - 1]) * s);
  high[0] = static_cast<float>((static_cast<double>(o[0]) - e[0]) * t);
  for (std::uint32_t k = 1; k < half; ++k) {
    high[k] = static_cast<float>(((static_cast<double>(o[k]) + o[k - 1]) - 2.0 * e[k]) * t);
  }
}

void analyse_level(float* plane, std::size_t stride, std::uint32_t rows, std::uint32_t cols,
                  float* temp) {
  analyse_level_with(plane, stride, rows, cols, 0, nullptr, nullptr, temp);
}

void threshold_level(float* plane, std::size_t stride, std::uint32_t rows, std::uint32_t cols,
                    std::uint16_t threshold) {
  if (threshold == 0) return;
  const float limit = static_cast<float>(threshold);
  const std::uint32_t half_rows = rows / 2;
  const std::uint32_t half_cols = cols / 2;
  for (std::uint32_t r = 0; r < half_rows; ++r) {
    clear_small(plane + r * stride + half_cols, cols - half_cols, limit);
  }
  for (std::uint32_t r = half_rows; r < rows; ++r) clear_small(plane + r * stride, cols, limit);
}

StatusCode TransformWorkspace::reserve(std::uint32_t width, std::uint32_t height, int workers) {
  workers = std::max(workers, 1);
  const std::size_t samples = std::size_t{width} * height;
  const std::size_t scratch = scratch_floats(height, width);
  if (samples <= capacity_ && scratch <= scratch_floats_ && workers <= workers_) {
    return StatusCode::kOk;
  }
  plane_.reset();
  scratch_.reset();
  capacity_ = scratch_floats_ = 0;
  workers_ = 0;
  // new[] without () leaves the floats uninitialised: no zeroing pass.
  plane_.reset(new (std::nothrow) float[samples]);
  scratch_.reset(new (std::nothrow) float[scratch * static_cast<std::size_t>(workers)]);
  if (!plane_ || !scratch_) {
    plane_.reset();
    scratch_.reset();
    return StatusCode::kOutOfMemory;
  }
  utils::advise_huge_pages(plane_.get(), samples * sizeof(float));
  capacity_ = samples;
  scratch_floats_ = scratch;
  workers_ = workers;
  return StatusCode::kOk;
}

namespace {

// All levels on the float plane already in the workspace.
void analyse_levels(float* plane, std::uint32_t width, std::uint32_t height, int total_levels,
                   const std::uint16_t* thresholds, TransformWorkspace& workspace,
                   WorkerPool* pool) {
  std::uint32_t rows = height;
  std::uint32_t cols = width;
  for (int l = 0; l < total_levels; ++l) {
    analyse_level_with(plane, width, rows, cols, thresholds[l], pool, &workspace, nullptr);
    rows /= 2;
    cols /= 2;
  }
}

int Workers(const WorkerPool* pool) { return pool != nullptr ? pool->size() : 1; }

}  // namespace

void analyse_plane(std::uint32_t width, std::uint32_t height, int total_levels, const std::uint16_t* thresholds,
                   TransformWorkspace& workspace, WorkerPool* pool) {
  analyse_levels(workspace.plane(), width, height, total_levels, thresholds, workspace, pool);
}

StatusCode transform_picture_channel(const PictureRows& picture, int channel,
                               const CodecParams& working, TransformWorkspace& workspace,
                               WorkerPool* pool) {
  const std::uint32_t width = working.padded_width;
  const std::uint32_t height = working.padded_height;
  VARNIC_RETURN_IF_ERROR(workspace.reserve(width, height, Workers(pool)));
  float* plane = workspace.plane();
  const std::array<std::int32_t, format::kChannelCount> offsets = {
      working.channels[0].pixel_offset, working.channels[1].pixel_offset,
      working.channels[2].pixel_offset};
  auto fill = [&](std::size_t begin, std::size_t end) {
    for (std::size_t r = begin; r < end; ++r) {
      channel_row_to_float(picture, channel, offsets, width, static_cast<std::uint32_t>(r),
                        plane + r * width);
    }
  };
  utils::for_range(pool, height, 16, fill);
  analyse_levels(plane, width, height, working.total_levels, working.threshold_vector.data(),
                workspace, pool);
  return StatusCode::kOk;
}

void measure_band(const float* plane, std::size_t stride, format::BandRect band, std::int16_t& band_max,
                 std::int16_t& band_min) {
  // Keeping the truncated running extreme and comparing each f with it ends
  // in trunc(largest f) and trunc(smallest f), so the extremes are found
  // first and truncated once. Independent lanes let the loop vectorise; the
  // extremes do not depend on the order they are met in.
  constexpr int kLanes = 8;
  float max[kLanes];
  float min[kLanes];
  std::fill_n(max, kLanes, -30000.0f);
  std::fill_n(min, kLanes, 30000.0f);
  for (std::uint32_t r = 0; r < band.rows; ++r) {
    const float* p = plane + (band.row + r) * stride + band.col;
    std::uint32_t j = 0;
#if defined(__SSE2__)
    // maxps(a, b) is a > b ? a : b lane by lane: the scalar rule below.
    __m128 hi0 = _mm_loadu_ps(max), hi1 = _mm_loadu_ps(max + 4);
    __m128 lo0 = _mm_loadu_ps(min), lo1 = _mm_loadu_ps(min + 4);
    for (; j + kLanes <= band.cols; j += kLanes) {
      const __m128 a = _mm_loadu_ps(p + j);
      const __m128 b = _mm_loadu_ps(p + j + 4);
      hi0 = _mm_max_ps(a, hi0);
      hi1 = _mm_max_ps(b, hi1);
      lo0 = _mm_min_ps(a, lo0);
      lo1 = _mm_min_ps(b, lo1);
    }
    _mm_storeu_ps(max, hi0);
    _mm_storeu_ps(max + 4, hi1);
    _mm_storeu_ps(min, lo0);
    _mm_storeu_ps(min + 4, lo1);
#else
    for (; j + kLanes <= band.cols; j += kLanes) {
      for (int l = 0; l < kLanes; ++l) {
        max[l] = p[j + l] > max[l] ? p[j + l] : max[l];
        min[l] = p[j + l] < min[l] ? p[j + l] : min[l];
      }
    }
#endif
    for (; j < band.cols; ++j) {
      max[0] = p[j] > max[0] ? p[j] : max[0];
      min[0] = p[j] < min[0] ? p[j] : min[0];
    }
  }
  for (int l = 1; l < kLanes; ++l) {
    max[0] = max[l] > max[0] ? max[l] : max[0];
    min[0] = min[l] < min[0] ? min[l] : min[0];
  }
  band_max = static_cast<std::int16_t>(std::trunc(max[0]));
  band_min = static_cast<std::int16_t>(std::trunc(min[0]));
}

VARNIC_WIDE_LOOPS void quantize_band(CoefficientPlane& out, const float* plane,
                                    std::int16_t band_max, std::int16_t band_min, format::BandRect band,
                                    std::uint16_t quant_step) {
  // Scales are float32; the products with f and the +-0.5 are formed in double.
  const float scale_pos =
      band_max != 0 ? static_cast<float>(quant_step) / static_cast<float>(band_max) : 0.0f;
  const float scale_neg =
      band_min != 0 ? -static_cast<float>(quant_step) / static_cast<float>(band_min) : 0.0f;
  const double sp = scale_pos;
  const double sn = scale_neg;
  constexpr double kLow = format::kMinQuantized;
  constexpr double kHigh = format::kMaxQuantized;
  const std::size_t stride = out.width();
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

void quantize_channel(CoefficientPlane& out, const float* plane, int total_levels,
                     ChannelParams& channel, WorkerPool* pool) {
  auto quantize = [&](int k) {
    const format::BandRect band = format::subband_rect(out.width(), out.height(), total_levels, k);
    std::int16_t& top = channel.band_max[static_cast<std::size_t>(k)];
    std::int16_t& bottom = channel.band_min[static_cast<std::size_t>(k)];
    const std::uint16_t step = channel.quant_vector[static_cast<std::size_t>(k)];
    if (pool == nullptr || pool->size() == 1) {
      measure_band(plane, out.width(), band, top, bottom);
      quantize_band(out, plane, top, bottom, band, step);
      return;
    }
    // Row ranges of the band; the extremes of the parts combine exactly since
    // truncation keeps order.
    auto part = [&](std::size_t begin, std::size_t end) {
      format::BandRect rect = band;
      rect.row = band.row + static_cast<std::uint32_t>(begin);
      rect.rows = static_cast<std::uint32_t>(end - begin);
      return rect;
    };
    const std::size_t grain = 8;
    std::mutex mutex;
    std::int16_t band_max = -30000;
    std::int16_t band_min = 30000;
    pool->for_range(band.rows, grain, [&](std::size_t begin, std::size_t end) {
      std::int16_t hi = 0;
      std::int16_t lo = 0;
      measure_band(plane, out.width(), part(begin, end), hi, lo);
      const std::lock_guard lock(mutex);
      band_max = std::max(band_max, hi);
      band_min = std::min(band_min, lo);
    });
    top = band_max;
    bottom = band_min;
    pool->for_range(band.rows, grain, [&](std::size_t begin, std::size_t end) {
      quantize_band(out, plane, top, bottom, part(begin, end), step);
    });
  };
  for (int l = 0; l < total_levels; ++l) {
    quantize(format::subband_index(l, format::Orientation::kV));
    quantize(format::subband_index(l, format::Orientation::kH));
    quantize(format::subband_index(l, format::Orientation::kD));
  }
  quantize(format::low_band_index(total_levels));
}

void mark_zerotrees(CoefficientPlane& plane, int total_levels, int dropped_levels,
                   WorkerPool* pool) {
  const int levels = total_levels;
  if (levels < 2) return;
  const int coded = std::max(levels - dropped_levels, 0);  // K, scales 1..K are coded
  const std::uint32_t pw = plane.width();
  const std::uint32_t ph = plane.height();
  auto rows_of = [&](int scale) { return ph >> (levels - scale); };
  auto cols_of = [&](int scale) { return pw >> (levels - scale); };

  // zero_tree[pos]: every descendant of pos down to scale K is zero (the
  // TreeIsZero test), computed bottom-up from the unmarked values. Marking
  // never touches the descendants of a node before that node is visited, so
  // the raw values are what the coarse-to-fine test would read.
  // Only scales 1..K-1 need the map; they lie in the top rows_of(K-1) rows.
  // Rows of one scale are independent in both passes: a row reads the map
  // and values of its own scale and writes only its own entries and its
  // roots' descendants, which lie outside the scale's region.
  auto rows = [pool](std::uint32_t h, auto&& row_body) {
    utils::for_range(pool, h, 8, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) row_body(static_cast<std::uint32_t>(i));
    });
  };
  std::vector<std::uint8_t> zero_tree;
  if (coded > 1) utils::assign_large(zero_tree, std::size_t{rows_of(coded - 1)} * pw);
  for (int t = coded - 1; t >= 1; --t) {
    const std::uint32_t h = rows_of(t);
    const std::uint32_t w = cols_of(t);
    const bool children_are_leaves = t + 1 >= coded;
    rows(h, [&](std::uint32_t i) {
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
    });
  }

  for (int s = 1; s < levels; ++s) {
    const std::uint32_t h = rows_of(s);
    const std::uint32_t w = cols_of(s);
    rows(h, [&](std::uint32_t i) {
      std::int16_t* row = plane.row(i);
      for (std::uint32_t j = 0; j < w; ++j) {
        // Inclusive bounds: row h/2 of v, column w/2 of h and the first d
        // coefficient are never roots either.
        if (i <= h / 2 && j <= w / 2) continue;
        if (row[j] != 0) continue;
        if (coded > s && !zero_tree[std::size_t{i} * pw + j]) continue;
        row[j] = format::kZeroTreeRoot;
        for (int m = 1; m <= coded - s; ++m) {
          const std::uint32_t side = 1u << m;
          for (std::uint32_t y = side * i; y < side * (i + 1); ++y) {
            std::int16_t* r = plane.row(y);
            std::fill(r + side * j, r + side * (j + 1), format::kZeroTreeInside);
          }
        }
      }
    });
  }
}

}  // namespace varnic::codec

