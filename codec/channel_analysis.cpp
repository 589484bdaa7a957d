// SPDX-License-Identifier: BSD-2-Clause
#include "codec/channel_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/forward_wavelet.h"
#include "format/format.h"
#include "format/plane.h"
#include "utils/wide_loops.h"

namespace varnic::codec {
namespace {

// The rules of forward_wavelet.cpp's vertical_pass, one output row each: the same expressions
// in double from float operands, stored as float.
constexpr double kLowScale = 1.0 / 8.0;
constexpr double kHighScale = 1.0 / 4.0;

VARNIC_WIDE_LOOPS void low_first(const float* x0, const float* x1, const float* x2, const float* x3,
                                 std::uint32_t n, float* l) {
  for (std::uint32_t j = 0; j < n; ++j) {
    l[j] = static_cast<float>(((3.0 * x1[j] + static_cast<double>(x2[j])) * 2.0 - x3[j] + x0[j]) * kLowScale);
  }
}
VARNIC_WIDE_LOOPS void low_inner(const float* xm1, const float* x0, const float* x1, const float* x2,
                                 const float* x3, std::uint32_t n, float* l) {
  for (std::uint32_t j = 0; j < n; ++j) {
    l[j] = static_cast<float>(
        (((static_cast<double>(x2[j]) + x0[j]) + 3.0 * x1[j]) * 2.0 - (static_cast<double>(x3[j]) + xm1[j])) *
        kLowScale);
  }
}
VARNIC_WIDE_LOOPS void low_last(const float* a, const float* b, const float* c, std::uint32_t n, float* l) {
  for (std::uint32_t j = 0; j < n; ++j) l[j] = static_cast<float>(((7.0 * a[j] - b[j]) + 2.0 * c[j]) * kLowScale);
}
VARNIC_WIDE_LOOPS void high_first(const float* x0, const float* x1, std::uint32_t n, float* h) {
  for (std::uint32_t j = 0; j < n; ++j) h[j] = static_cast<float>((static_cast<double>(x1[j]) - x0[j]) * kHighScale);
}
VARNIC_WIDE_LOOPS void high_inner(const float* xm1, const float* x0, const float* x1, std::uint32_t n, float* h) {
  for (std::uint32_t j = 0; j < n; ++j) {
    h[j] = static_cast<float>(((static_cast<double>(x1[j]) + xm1[j]) - 2.0 * x0[j]) * kHighScale);
  }
}

// |trunc(f)| < T is |f| < T for a whole-number T.
VARNIC_WIDE_LOOPS void clear_small(float* p, std::uint32_t n, float limit) {
  for (std::uint32_t j = 0; j < n; ++j) p[j] = std::fabs(p[j]) < limit ? 0.0f : p[j];
}

// quantize_band's rule for one row, into byte codes. The sign of a coefficient is as good as
// random, so the selections are made with masks rather than branches: two doubles at a time with
// SSE2, the same operations in the same order (products and sums in double, no fused
// multiply-add; maxpd and minpd are the clamps' comparisons; cvttpd truncates as the cast does).
VARNIC_WIDE_LOOPS void quantize_row(const float* p, std::uint32_t n, double sp, double sn, std::int8_t* q) {
  constexpr double kLow = format::kMinQuantized;
  constexpr double kHigh = format::kMaxQuantized;
  std::uint32_t j = 0;
#if defined(__SSE2__)
  const __m128d pos_scale = _mm_set1_pd(sp);
  const __m128d neg_scale = _mm_set1_pd(sn);
  const __m128d half = _mm_set1_pd(0.5);
  const __m128d zero = _mm_setzero_pd();
  const __m128d low = _mm_set1_pd(kLow);
  const __m128d high = _mm_set1_pd(kHigh);
  auto two = [&](const float* at) {
    const __m128d f = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at))));
    const __m128d pos = _mm_add_pd(_mm_mul_pd(f, pos_scale), half);
    const __m128d neg = _mm_sub_pd(_mm_mul_pd(f, neg_scale), half);
    const __m128d above = _mm_cmpgt_pd(f, zero);
    const __m128d below = _mm_cmplt_pd(f, zero);
    __m128d v = _mm_or_pd(_mm_and_pd(above, pos), _mm_and_pd(below, neg));  // 0 where f is 0
    v = _mm_max_pd(v, low);
    v = _mm_min_pd(v, high);
    return _mm_cvttpd_epi32(v);  // two int32 in the low half
  };
  for (; j + 8 <= n; j += 8) {
    const __m128i a = _mm_unpacklo_epi64(two(p + j), two(p + j + 2));
    const __m128i b = _mm_unpacklo_epi64(two(p + j + 4), two(p + j + 6));
    const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(a, b), _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(q + j), bytes);
  }
#endif
  for (; j < n; ++j) {
    const double f = p[j];
    const double pos = f * sp + 0.5;
    const double neg = f * sn - 0.5;
    double v = f > 0.0 ? pos : (f < 0.0 ? neg : 0.0);
    v = v < kLow ? kLow : (v > kHigh ? kHigh : v);
    q[j] = static_cast<std::int8_t>(static_cast<std::int16_t>(v));
  }
}

constexpr std::uint32_t kRingRows = 8;  // a low row reads five input rows, the newest two ahead

}  // namespace

struct LineAnalysis::Level {
  std::uint32_t rows = 0, cols = 0;
  std::uint32_t received = 0;
  std::vector<float> ring;   // kRingRows input rows
  std::vector<float> out;    // the row being finished
  std::vector<float> split;  // horizontal scratch
  const float* in(std::uint32_t r) const { return ring.data() + std::size_t{r % kRingRows} * cols; }
};

LineAnalysis::LineAnalysis() = default;
LineAnalysis::~LineAnalysis() = default;

void LineAnalysis::start(std::uint32_t width, std::uint32_t height, int levels, const std::uint16_t* thresholds,
                         BandRowSink sink) {
  levels_.clear();
  thresholds_.assign(thresholds, thresholds + levels);
  sink_ = std::move(sink);
  for (int l = 0; l < levels; ++l) {
    auto level = std::make_unique<Level>();
    level->rows = height >> l;
    level->cols = width >> l;
    level->ring.assign(std::size_t{kRingRows} * level->cols, 0.0f);
    level->out.assign(level->cols, 0.0f);
    level->split.assign(level->cols, 0.0f);
    levels_.push_back(std::move(level));
  }
}

void LineAnalysis::push(const float* row) { push_level(0, row); }

void LineAnalysis::push_level(int l, const float* row) {
  Level& v = *levels_[static_cast<std::size_t>(l)];
  const std::uint32_t r = v.received++;
  std::copy_n(row, v.cols, v.ring.data() + std::size_t{r % kRingRows} * v.cols);
  if (r % 2 == 0) return;
  // Row r = 2k + 1 completes high row k and low row k - 1 (and the last low row at the end).
  const std::uint32_t k = r / 2;
  const std::uint32_t half = v.rows / 2;
  const std::uint32_t n = v.cols;
  float* out = v.out.data();
  if (k == 0) {
    high_first(v.in(0), v.in(1), n, out);
  } else {
    high_inner(v.in(2 * k - 1), v.in(2 * k), v.in(2 * k + 1), n, out);
  }
  emit(l, true, k, out);
  if (k >= 1) {
    const std::uint32_t j = k - 1;
    if (j == 0) {
      low_first(v.in(0), v.in(1), v.in(2), v.in(3), n, out);
    } else {
      low_inner(v.in(2 * j - 1), v.in(2 * j), v.in(2 * j + 1), v.in(2 * j + 2), v.in(2 * j + 3), n, out);
    }
    emit(l, false, j, out);
  }
  if (k == half - 1) {
    low_last(v.in(v.rows - 1), v.in(v.rows - 3), v.in(v.rows - 2), n, out);
    emit(l, false, half - 1, out);
  }
}

void LineAnalysis::emit(int l, bool high, std::uint32_t k, float* row) {
  Level& v = *levels_[static_cast<std::size_t>(l)];
  const std::uint32_t half = v.cols / 2;
  horizontal_row(row, v.cols, v.split.data());
  const std::uint16_t threshold = thresholds_[static_cast<std::size_t>(l)];
  if (threshold != 0) {
    const float limit = static_cast<float>(threshold);
    if (high) {
      clear_small(row, v.cols, limit);
    } else {
      clear_small(row + half, v.cols - half, limit);
    }
  }
  if (high) {
    sink_(format::subband_index(l, format::Orientation::kV), k, row, half);
    sink_(format::subband_index(l, format::Orientation::kD), k, row + half, v.cols - half);
    return;
  }
  sink_(format::subband_index(l, format::Orientation::kH), k, row + half, v.cols - half);
  const int levels = static_cast<int>(levels_.size());
  if (l + 1 < levels) {
    push_level(l + 1, row);
  } else {
    sink_(format::low_band_index(levels), k, row, half);
  }
}

StatusCode analyse_channel_rows(const PictureRows& picture, int channel, const format::CodecParams& working,
                                format::ChannelParams& params, format::SymbolPlane& codes) {
  const std::uint32_t width = working.padded_width;
  const std::uint32_t height = working.padded_height;
  const int levels = working.total_levels;
  if (codes.width() != width || codes.height() != height || picture.height == 0) return StatusCode::kEncodeFailed;
  const std::array<std::int32_t, format::kChannelCount> offsets = {
      working.channels[0].pixel_offset, working.channels[1].pixel_offset, working.channels[2].pixel_offset};
  std::vector<float> samples(width);
  std::vector<std::uint8_t> source(picture.read_bottom_row ? std::size_t{picture.width} * (picture.bits_per_pixel / 8)
                                                           : 0);
  // Rows past the picture repeat its last row, so its samples are kept.
  auto feed = [&](LineAnalysis& analysis) {
    for (std::uint32_t r = 0; r < height; ++r) {
      if (r < picture.height) {
        const std::uint8_t* row = source.data();
        if (!picture.read_bottom_row) {
          row = picture.bottom_row(r);
        } else if (!picture.read_bottom_row(r, source.data())) {
          return false;
        }
        channel_row_to_float(picture, row, channel, offsets, width, samples.data());
      }
      analysis.push(samples.data());
    }
    return true;
  };

  std::array<std::int16_t, format::kMaxSubbands> band_max;
  std::array<std::int16_t, format::kMaxSubbands> band_min;
  band_max.fill(-30000);
  band_min.fill(30000);
  LineAnalysis analysis;
  analysis.start(width, height, levels, working.threshold_vector.data(),
                 [&](int subband, std::uint32_t, const float* p, std::uint32_t n) {
                   std::int16_t hi = 0;
                   std::int16_t lo = 0;
                   measure_band(p, n, format::BandRect{0, 0, 1, n}, hi, lo);
                   band_max[static_cast<std::size_t>(subband)] = std::max(band_max[static_cast<std::size_t>(subband)], hi);
                   band_min[static_cast<std::size_t>(subband)] = std::min(band_min[static_cast<std::size_t>(subband)], lo);
                 });
  if (!feed(analysis)) return StatusCode::kBadPictureBuffer;
  const int subbands = format::subband_count(levels);
  std::array<double, format::kMaxSubbands> scale_pos{};
  std::array<double, format::kMaxSubbands> scale_neg{};
  std::array<format::BandRect, format::kMaxSubbands> rects{};
  for (int k = 0; k < subbands; ++k) {
    const auto i = static_cast<std::size_t>(k);
    params.band_max[i] = band_max[i];
    params.band_min[i] = band_min[i];
    // quantize_band's float32 scales.
    const float step = static_cast<float>(params.quant_vector[i]);
    scale_pos[i] = band_max[i] != 0 ? step / static_cast<float>(band_max[i]) : 0.0f;
    scale_neg[i] = band_min[i] != 0 ? -step / static_cast<float>(band_min[i]) : 0.0f;
    rects[i] = format::subband_rect(width, height, levels, k);
  }
  analysis.start(width, height, levels, working.threshold_vector.data(),
                 [&](int subband, std::uint32_t row, const float* p, std::uint32_t n) {
                   const auto i = static_cast<std::size_t>(subband);
                   quantize_row(p, n, scale_pos[i], scale_neg[i], codes.row(rects[i].row + row) + rects[i].col);
                 });
  if (!feed(analysis)) return StatusCode::kBadPictureBuffer;
  return StatusCode::kOk;
}

void mark_zerotree_codes(format::SymbolPlane& plane, int total_levels, int dropped_levels) {
  const int levels = total_levels;
  if (levels < 2) return;
  const int coded = std::max(levels - dropped_levels, 0);
  const std::uint32_t pw = plane.width();
  const std::uint32_t ph = plane.height();
  auto rows_of = [&](int scale) { return ph >> (levels - scale); };
  auto cols_of = [&](int scale) { return pw >> (levels - scale); };
  // A zero whose descendants down to scale K are all zero (mark_zerotrees' map) is held as this
  // code until the marking below; it is no quantized value and no marker.
  constexpr std::int8_t kZeroTree = -128;
  static_assert(kZeroTree < format::kZeroTreeRoot);
  for (int t = coded - 1; t >= 1; --t) {
    const std::uint32_t h = rows_of(t);
    const std::uint32_t w = cols_of(t);
    const std::int8_t leaf = t + 1 >= coded ? 0 : kZeroTree;
    for (std::uint32_t i = 0; i < h; ++i) {
      const std::int8_t* c0 = plane.row(2 * i);
      const std::int8_t* c1 = plane.row(2 * i + 1);
      std::int8_t* z = plane.row(i);
      for (std::uint32_t j = i < h / 2 ? w / 2 : 0; j < w; ++j) {
        const std::uint32_t a = 2 * j;
        if (z[j] == 0 && c0[a] == leaf && c0[a + 1] == leaf && c1[a] == leaf && c1[a + 1] == leaf) z[j] = kZeroTree;
      }
    }
  }
  for (int s = 1; s < levels; ++s) {
    const std::uint32_t h = rows_of(s);
    const std::uint32_t w = cols_of(s);
    const std::int8_t root_value = coded > s ? kZeroTree : 0;
    for (std::uint32_t i = 0; i < h; ++i) {
      std::int8_t* row = plane.row(i);
      for (std::uint32_t j = 0; j < w; ++j) {
        if (i <= h / 2 && j <= w / 2) {
          // Never roots (inclusive bounds, as mark_zerotrees has them).
          if (row[j] == kZeroTree) row[j] = 0;
          continue;
        }
        if (row[j] != root_value) continue;
        row[j] = format::kZeroTreeRoot;
        for (int m = 1; m <= coded - s; ++m) {
          const std::uint32_t side = 1u << m;
          for (std::uint32_t y = side * i; y < side * (i + 1); ++y) {
            std::memset(plane.row(y) + side * j, format::kZeroTreeInside, side);
          }
        }
      }
    }
  }
}

std::array<std::uint32_t, 256> count_codes(const format::SymbolPlane& plane) {
  // Four tables, so that runs of one code do not wait on one counter.
  std::array<std::array<std::uint32_t, 256>, 4> parts{};
  const std::int8_t* v = plane.data();
  const std::size_t n = plane.size();
  auto index = [](std::int8_t code) { return static_cast<std::uint8_t>(code + format::kSymbolBias); };
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++parts[0][index(v[i])];
    ++parts[1][index(v[i + 1])];
    ++parts[2][index(v[i + 2])];
    ++parts[3][index(v[i + 3])];
  }
  for (; i < n; ++i) ++parts[0][index(v[i])];
  std::array<std::uint32_t, 256> count{};
  for (const auto& part : parts) {
    for (int c = 0; c < 256; ++c) count[static_cast<std::size_t>(c)] += part[static_cast<std::size_t>(c)];
  }
  return count;
}

}  // namespace varnic::codec
