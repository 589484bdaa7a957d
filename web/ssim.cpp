// SPDX-License-Identifier: BSD-2-Clause
#include "ssim.h"

#include <cmath>
#include <limits>

namespace varnic::web {
namespace {

constexpr double kSigma = 1.5;
constexpr double kC1 = (0.01 * 255) * (0.01 * 255);
constexpr double kC2 = (0.03 * 255) * (0.03 * 255);

void luma(std::span<const std::uint8_t> row, PixelFormat format, std::vector<double>& out) {
  for (std::size_t x = 0; x < out.size(); ++x) {
    if (format == PixelFormat::kGrey8) {
      out[x] = row[x];
      continue;
    }
    const std::uint8_t* px = &row[3 * x];
    const double r = format == PixelFormat::kRgb24 ? px[0] : px[2];
    const double b = format == PixelFormat::kRgb24 ? px[2] : px[0];
    out[x] = 0.299 * r + 0.587 * px[1] + 0.114 * b;
  }
}

}  // namespace

SsimRows::SsimRows(std::uint32_t width)
    : inside_(width > 2 * kRadius ? width - 2 * kRadius : 0), luma_a_(width), luma_b_(width),
      ring_(static_cast<std::size_t>(kTaps) * kMoments * inside_) {
  double sum = 0;
  for (int k = -kRadius; k <= kRadius; ++k) sum += taps_[k + kRadius] = std::exp(-k * k / (2 * kSigma * kSigma));
  for (double& t : taps_) t /= sum;
}

void SsimRows::add(std::span<const std::uint8_t> row_a, PixelFormat format_a, std::span<const std::uint8_t> row_b,
                   PixelFormat format_b) {
  if (inside_ == 0) return;
  luma(row_a, format_a, luma_a_);
  luma(row_b, format_b, luma_b_);
  // Filtered across, kept only where the whole window is inside (the border the usual
  // definition crops before averaging).
  double* moments = &ring_[static_cast<std::size_t>(rows_ % kTaps) * kMoments * inside_];
  for (std::size_t x = 0; x < inside_; ++x) {
    double m[kMoments] = {};
    for (int k = 0; k < kTaps; ++k) {
      const double a = luma_a_[x + static_cast<std::size_t>(k)];
      const double b = luma_b_[x + static_cast<std::size_t>(k)];
      m[0] += taps_[k] * a;
      m[1] += taps_[k] * b;
      m[2] += taps_[k] * (a * a);
      m[3] += taps_[k] * (b * b);
      m[4] += taps_[k] * (a * b);
    }
    for (int i = 0; i < kMoments; ++i) moments[static_cast<std::size_t>(i) * inside_ + x] = m[i];
  }
  ++rows_;
  if (rows_ < kTaps) return;
  // The window's rows, oldest first, filtered down.
  const double* rows[kTaps];
  for (int k = 0; k < kTaps; ++k) rows[k] = &ring_[static_cast<std::size_t>((rows_ + static_cast<unsigned>(k)) % kTaps) * kMoments * inside_];
  for (std::size_t x = 0; x < inside_; ++x) {
    double m[kMoments] = {};
    for (int k = 0; k < kTaps; ++k)
      for (int i = 0; i < kMoments; ++i) m[i] += taps_[k] * rows[k][static_cast<std::size_t>(i) * inside_ + x];
    const double vx = m[2] - m[0] * m[0];
    const double vy = m[3] - m[1] * m[1];
    const double cov = m[4] - m[0] * m[1];
    total_ += (2 * m[0] * m[1] + kC1) * (2 * cov + kC2) / ((m[0] * m[0] + m[1] * m[1] + kC1) * (vx + vy + kC2));
  }
  count_ += inside_;
}

double SsimRows::result() const {
  return count_ == 0 ? std::numeric_limits<double>::quiet_NaN() : total_ / static_cast<double>(count_);
}

}  // namespace varnic::web
