// SPDX-License-Identifier: BSD-2-Clause
#include "codec/quantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/line_analysis.h"
#include "format/plane.h"
#include "utils/wide_loops.h"

namespace varnic::codec {

void measure_row(const float* p, std::uint32_t n, std::int16_t& band_max, std::int16_t& band_min) {
  // trunc keeps order, so the row's extremes are found first and truncated once. Independent
  // lanes let the loop vectorise; the extremes do not depend on the order they are met in.
  constexpr int kLanes = 8;
  float max[kLanes];
  float min[kLanes];
  std::fill_n(max, kLanes, -30000.0f);
  std::fill_n(min, kLanes, 30000.0f);
  std::uint32_t j = 0;
#if defined(__SSE2__)
  // maxps(a, b) is a > b ? a : b lane by lane: the scalar rule below.
  __m128 hi0 = _mm_loadu_ps(max), hi1 = _mm_loadu_ps(max + 4);
  __m128 lo0 = _mm_loadu_ps(min), lo1 = _mm_loadu_ps(min + 4);
  for (; j + kLanes <= n; j += kLanes) {
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
  for (; j + kLanes <= n; j += kLanes) {
    for (int l = 0; l < kLanes; ++l) {
      max[l] = p[j + l] > max[l] ? p[j + l] : max[l];
      min[l] = p[j + l] < min[l] ? p[j + l] : min[l];
    }
  }
#endif
  for (; j < n; ++j) {
    max[0] = p[j] > max[0] ? p[j] : max[0];
    min[0] = p[j] < min[0] ? p[j] : min[0];
  }
  for (int l = 1; l < kLanes; ++l) {
    max[0] = max[l] > max[0] ? max[l] : max[0];
    min[0] = min[l] < min[0] ? min[l] : min[0];
  }
  band_max = std::max(band_max, static_cast<std::int16_t>(std::trunc(max[0])));
  band_min = std::min(band_min, static_cast<std::int16_t>(std::trunc(min[0])));
}

QuantizerScales quantizer_scales(std::int16_t band_max, std::int16_t band_min, std::uint16_t quant_step) {
  const float step = static_cast<float>(quant_step);
  return {band_max != 0 ? step / static_cast<float>(band_max) : 0.0f,
          band_min != 0 ? -step / static_cast<float>(band_min) : 0.0f};
}

// The sign of a coefficient is as good as random, so the selections are made with masks rather
// than branches: two doubles at a time with SSE2, the same operations in the same order (products
// and sums in double, no fused multiply-add; maxpd and minpd are the clamps' comparisons; cvttpd
// truncates as the cast does). With whole-number bounds, clamping and then truncating equals
// truncating first.
VARNIC_WIDE_LOOP(void, quantize_row, (const float* p, std::uint32_t n, QuantizerScales scales, std::int8_t* q),
                 (p, n, scales, q)) {
  constexpr double kLow = format::kMinQuantized;
  constexpr double kHigh = format::kMaxQuantized;
  const double sp = scales.positive;
  const double sn = scales.negative;
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

format::StatusCode quantize_channel_rows(const PictureRows& picture, int channel, const format::CodecParams& working,
                                         format::ChannelParams& params, format::SymbolPlane& codes) {
  const std::uint32_t width = working.padded_width;
  const std::uint32_t height = working.padded_height;
  const int levels = working.total_levels;
  if (codes.width() != width || codes.height() != height || picture.height == 0) {
    return format::StatusCode::kEncodeFailed;
  }
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
                   const auto k = static_cast<std::size_t>(subband);
                   measure_row(p, n, band_max[k], band_min[k]);
                 });
  if (!feed(analysis)) return format::StatusCode::kBadPictureBuffer;
  const int subbands = format::subband_count(levels);
  std::array<QuantizerScales, format::kMaxSubbands> scales{};
  std::array<format::BandRect, format::kMaxSubbands> rects{};
  for (int k = 0; k < subbands; ++k) {
    const auto i = static_cast<std::size_t>(k);
    params.band_max[i] = band_max[i];
    params.band_min[i] = band_min[i];
    scales[i] = quantizer_scales(band_max[i], band_min[i], params.quant_vector[i]);
    rects[i] = format::subband_rect(width, height, levels, k);
  }
  analysis.start(width, height, levels, working.threshold_vector.data(),
                 [&](int subband, std::uint32_t row, const float* p, std::uint32_t n) {
                   const auto i = static_cast<std::size_t>(subband);
                   quantize_row(p, n, scales[i], codes.row(rects[i].row + row) + rects[i].col);
                 });
  if (!feed(analysis)) return format::StatusCode::kBadPictureBuffer;
  return format::StatusCode::kOk;
}

}  // namespace varnic::codec
