// SPDX-License-Identifier: BSD-2-Clause
// Weights for structural similarity. Where a picture's local variance s^2 is high, a small error of
// variance e^2 lowers its similarity index by about e^2 / (2 s^2 + C2): texture masks error, flat
// areas show it. Larger errors do not keep to that (texture coded away entirely costs the index
// far more than the small-error rule says), so the weights follow its square root,
// 1 / sqrt(2 s^2 + C2), which measured best on the tuning pictures. Each detail coefficient's
// squared error is weighted by the mean of that over the picture area it stands for, the weights
// scaled to a mean of 1 so that the distortion scale keeps its meaning.
#include <algorithm>
#include <cmath>

#include "optimize/work.h"

namespace varnic::optimize {
namespace {

// The index's second constant for 8-bit samples, (0.03 x 255)^2, and its window: 7 x 7.
constexpr double kC2 = 0.03 * 255 * 0.03 * 255;
constexpr int kWindowRadius = 3;

}  // namespace

void compute_masking(Work& w) {
  const codec::PictureRows& p = w.picture;
  const std::uint32_t pw = w.params.padded_width, ph = w.params.padded_height;
  // Luma of the padded picture (edges repeated), then sums of it and of its square over windows.
  std::vector<double> luma(std::size_t{pw} * ph);
  const std::uint32_t red = p.rgb_order ? 0 : 2, blue = 2 - red;
  for (std::uint32_t y = 0; y < ph; ++y) {
    const std::uint8_t* src = p.bottom_row(std::min(y, p.height - 1));
    for (std::uint32_t x = 0; x < pw; ++x) {
      const std::uint32_t sx = std::min(x, p.width - 1);
      luma[std::size_t{y} * pw + x] =
          w.planes == 1 ? src[sx]
                        : 0.299 * src[3 * sx + red] + 0.587 * src[3 * sx + 1] + 0.114 * src[3 * sx + blue];
    }
  }
  // Integral images with a zero first row and column.
  const std::size_t iw = pw + 1;
  std::vector<double> sum(iw * (ph + 1), 0.0), squares(iw * (ph + 1), 0.0);
  for (std::uint32_t y = 0; y < ph; ++y) {
    double row = 0, row_sq = 0;
    for (std::uint32_t x = 0; x < pw; ++x) {
      const double v = luma[std::size_t{y} * pw + x];
      row += v;
      row_sq += v * v;
      sum[(y + 1) * iw + x + 1] = sum[y * iw + x + 1] + row;
      squares[(y + 1) * iw + x + 1] = squares[y * iw + x + 1] + row_sq;
    }
  }
  std::vector<float> weight(std::size_t{pw} * ph);
  double total = 0;
  for (std::uint32_t y = 0; y < ph; ++y) {
    const std::uint32_t y0 = y > kWindowRadius ? y - kWindowRadius : 0, y1 = std::min(ph, y + kWindowRadius + 1);
    for (std::uint32_t x = 0; x < pw; ++x) {
      const std::uint32_t x0 = x > kWindowRadius ? x - kWindowRadius : 0, x1 = std::min(pw, x + kWindowRadius + 1);
      auto box = [&](const std::vector<double>& t) {
        return t[y1 * iw + x1] - t[y0 * iw + x1] - t[y1 * iw + x0] + t[y0 * iw + x0];
      };
      const double n = double(y1 - y0) * (x1 - x0);
      const double mean = box(sum) / n;
      const double variance = std::max(0.0, box(squares) / n - mean * mean);
      const double m = 1.0 / std::sqrt(2 * variance + kC2);
      weight[std::size_t{y} * pw + x] = static_cast<float>(m);
      total += m;
    }
  }
  const double scale = double(pw) * ph / total;
  // Each level's band positions average 2 x 2 of the finer level's, starting from the pixels.
  w.masking.assign(std::size_t{pw} * ph, 1.0f);
  std::vector<float> level = weight, coarser;
  std::uint32_t lw = pw, lh = ph;
  for (int l = 0; l < levels_of(w); ++l) {
    lw /= 2;
    lh /= 2;
    coarser.assign(std::size_t{lw} * lh, 0.0f);
    for (std::uint32_t y = 0; y < lh; ++y) {
      for (std::uint32_t x = 0; x < lw; ++x) {
        const float* a = level.data() + std::size_t{2 * y} * (2 * lw) + 2 * x;
        coarser[std::size_t{y} * lw + x] = 0.25f * (a[0] + a[1] + a[2 * lw] + a[2 * lw + 1]);
      }
    }
    level.swap(coarser);
    for (int o = 0; o < 3; ++o) {
      const format::BandRect r = band_rect(w, 3 * l + o);
      for (std::uint32_t y = 0; y < r.rows; ++y) {
        for (std::uint32_t x = 0; x < r.cols; ++x) {
          w.masking[std::size_t{r.row + y} * pw + r.col + x] = static_cast<float>(scale * level[std::size_t{y} * lw + x]);
        }
      }
    }
  }
  for (std::size_t c = 0; c < w.planes; ++c) w.ch[c].masking = w.masking.data();
}

}  // namespace varnic::optimize
