// SPDX-License-Identifier: BSD-2-Clause
#include "ssim.h"

#include <cmath>
#include <limits>
#include <vector>

namespace varnic::web {
namespace {

constexpr int kRadius = 5;  // 11 taps: sigma 1.5 truncated at 3.5 sigma
constexpr double kSigma = 1.5;
constexpr double kC1 = (0.01 * 255) * (0.01 * 255);
constexpr double kC2 = (0.03 * 255) * (0.03 * 255);

std::vector<double> luma(const Picture& p) {
  const std::size_t n = std::size_t{p.width} * p.height;
  std::vector<double> y(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (p.format == PixelFormat::kGrey8) {
      y[i] = p.pixels[i];
      continue;
    }
    const std::uint8_t* px = &p.pixels[3 * i];
    const double r = p.format == PixelFormat::kRgb24 ? px[0] : px[2];
    const double b = p.format == PixelFormat::kRgb24 ? px[2] : px[0];
    y[i] = 0.299 * r + 0.587 * px[1] + 0.114 * b;
  }
  return y;
}

// Separable Gaussian filter, kept only where the whole window is inside (the border the usual
// definition crops before averaging).
std::vector<double> blur_inside(const std::vector<double>& in, int w, int h) {
  double taps[2 * kRadius + 1];
  double sum = 0;
  for (int k = -kRadius; k <= kRadius; ++k) sum += taps[k + kRadius] = std::exp(-k * k / (2 * kSigma * kSigma));
  for (double& t : taps) t /= sum;
  const int ow = w - 2 * kRadius;
  const int oh = h - 2 * kRadius;
  std::vector<double> rows(static_cast<std::size_t>(ow) * static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < ow; ++x) {
      double s = 0;
      for (int k = 0; k <= 2 * kRadius; ++k) s += taps[k] * in[static_cast<std::size_t>(y) * w + x + k];
      rows[static_cast<std::size_t>(y) * ow + x] = s;
    }
  std::vector<double> out(static_cast<std::size_t>(ow) * static_cast<std::size_t>(oh));
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x) {
      double s = 0;
      for (int k = 0; k <= 2 * kRadius; ++k) s += taps[k] * rows[static_cast<std::size_t>(y + k) * ow + x];
      out[static_cast<std::size_t>(y) * ow + x] = s;
    }
  return out;
}

}  // namespace

double ssim(const Picture& a, const Picture& b) {
  const int w = static_cast<int>(a.width);
  const int h = static_cast<int>(a.height);
  if (a.width != b.width || a.height != b.height || w <= 2 * kRadius || h <= 2 * kRadius)
    return std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> x = luma(a);
  const std::vector<double> y = luma(b);
  std::vector<double> xx(x.size()), yy(x.size()), xy(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) xx[i] = x[i] * x[i], yy[i] = y[i] * y[i], xy[i] = x[i] * y[i];
  const std::vector<double> mx = blur_inside(x, w, h), my = blur_inside(y, w, h);
  const std::vector<double> mxx = blur_inside(xx, w, h), myy = blur_inside(yy, w, h), mxy = blur_inside(xy, w, h);
  double total = 0;
  for (std::size_t i = 0; i < mx.size(); ++i) {
    const double vx = mxx[i] - mx[i] * mx[i];
    const double vy = myy[i] - my[i] * my[i];
    const double cov = mxy[i] - mx[i] * my[i];
    total += (2 * mx[i] * my[i] + kC1) * (2 * cov + kC2) / ((mx[i] * mx[i] + my[i] * my[i] + kC1) * (vx + vy + kC2));
  }
  return total / static_cast<double>(mx.size());
}

}  // namespace varnic::web
