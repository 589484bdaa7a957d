// SPDX-License-Identifier: BSD-2-Clause
#include "codec/line_analysis.h"

#include <algorithm>
#include <cmath>

#include "format/params.h"
#include "utils/wide_loops.h"

namespace varnic::codec {
namespace {

// The vertical rules, one output row each: the first and last outputs see the repeated edge and
// have their own formulas, so the loops need no tests.
constexpr double kLowScale = 1.0 / 8.0;
constexpr double kHighScale = 1.0 / 4.0;

VARNIC_WIDE_LOOP(void, low_first, (const float* x0, const float* x1, const float* x2, const float* x3,
                                 std::uint32_t n, float* l), (x0, x1, x2, x3, n, l)) {
  for (std::uint32_t j = 0; j < n; ++j) {
    l[j] = static_cast<float>(((3.0 * x1[j] + static_cast<double>(x2[j])) * 2.0 - x3[j] + x0[j]) * kLowScale);
  }
}
VARNIC_WIDE_LOOP(void, low_inner, (const float* xm1, const float* x0, const float* x1, const float* x2,
                                 const float* x3, std::uint32_t n, float* l), (xm1, x0, x1, x2, x3, n, l)) {
  for (std::uint32_t j = 0; j < n; ++j) {
    l[j] = static_cast<float>(
        (((static_cast<double>(x2[j]) + x0[j]) + 3.0 * x1[j]) * 2.0 - (static_cast<double>(x3[j]) + xm1[j])) *
        kLowScale);
  }
}
VARNIC_WIDE_LOOP(void, low_last, (const float* a, const float* b, const float* c, std::uint32_t n, float* l),
                 (a, b, c, n, l)) {
  for (std::uint32_t j = 0; j < n; ++j) l[j] = static_cast<float>(((7.0 * a[j] - b[j]) + 2.0 * c[j]) * kLowScale);
}
VARNIC_WIDE_LOOP(void, high_first, (const float* x0, const float* x1, std::uint32_t n, float* h), (x0, x1, n, h)) {
  for (std::uint32_t j = 0; j < n; ++j) h[j] = static_cast<float>((static_cast<double>(x1[j]) - x0[j]) * kHighScale);
}
VARNIC_WIDE_LOOP(void, high_inner, (const float* xm1, const float* x0, const float* x1, std::uint32_t n, float* h),
                 (xm1, x0, x1, n, h)) {
  for (std::uint32_t j = 0; j < n; ++j) {
    h[j] = static_cast<float>(((static_cast<double>(x1[j]) + xm1[j]) - 2.0 * x0[j]) * kHighScale);
  }
}

// |trunc(f)| < T is |f| < T for a whole-number T.
VARNIC_WIDE_LOOP(void, clear_small, (float* p, std::uint32_t n, float limit), (p, n, limit)) {
  for (std::uint32_t j = 0; j < n; ++j) p[j] = std::fabs(p[j]) < limit ? 0.0f : p[j];
}

constexpr std::uint32_t kRingRows = 8;  // a low row reads five input rows, the newest two ahead

}  // namespace

// The row is split into its even and odd samples first so that the filter loops run over
// contiguous memory and vectorise.
VARNIC_WIDE_LOOP(void, horizontal_row, (float* x, std::uint32_t n, float* split), (x, n, split)) {
  constexpr double s = 1.0 / 4.0;
  constexpr double t = 1.0 / 2.0;
  const std::uint32_t half = n / 2;
  float* e = split;         // e[k] = x[2k]
  float* o = split + half;  // o[k] = x[2k + 1]
  for (std::uint32_t k = 0; k < half; ++k) {
    e[k] = x[2 * k];
    o[k] = x[2 * k + 1];
  }
  float* low = x;
  float* high = x + half;
  low[0] = static_cast<float>(((3.0 * o[0] + static_cast<double>(e[1])) * 2.0 - o[1] + e[0]) * s);
  for (std::uint32_t k = 1; k + 1 < half; ++k) {
    low[k] = static_cast<float>(
        (((static_cast<double>(e[k + 1]) + e[k]) + 3.0 * o[k]) * 2.0 - (static_cast<double>(o[k + 1]) + o[k - 1])) *
        s);
  }
  // x[n - 1], x[n - 3] and x[n - 2] of the unsplit row.
  low[half - 1] = static_cast<float>(((7.0 * o[half - 1] - o[half - 2]) + 2.0 * e[half - 1]) * s);
  high[0] = static_cast<float>((static_cast<double>(o[0]) - e[0]) * t);
  for (std::uint32_t k = 1; k < half; ++k) {
    high[k] = static_cast<float>(((static_cast<double>(o[k]) + o[k - 1]) - 2.0 * e[k]) * t);
  }
}

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

}  // namespace varnic::codec
