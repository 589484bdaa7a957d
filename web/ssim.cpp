// SPDX-License-Identifier: BSD-2-Clause
#include "ssim.h"

#include <cmath>
#include <limits>

namespace varnic::web {
namespace {

constexpr double kSigma = 1.5;
constexpr double kC1 = (0.01 * 255) * (0.01 * 255);
constexpr double kC2 = (0.03 * 255) * (0.03 * 255);

// Centred on 128, so that the squares that the variances subtract stay small enough for floats.
constexpr double kCentre = 128;

void luma(std::span<const std::uint8_t> row, PixelFormat format, std::vector<float>& out) {
  for (std::size_t x = 0; x < out.size(); ++x) {
    if (format == PixelFormat::kGrey8) {
      out[x] = static_cast<float>(row[x] - kCentre);
      continue;
    }
    const std::uint8_t* px = &row[3 * x];
    const double r = format == PixelFormat::kRgb24 ? px[0] : px[2];
    const double b = format == PixelFormat::kRgb24 ? px[2] : px[0];
    out[x] = static_cast<float>(0.299 * r + 0.587 * px[1] + 0.114 * b - kCentre);
  }
}

}  // namespace

SsimRows::SsimRows(std::uint32_t width)
    : inside_(width > 2 * kRadius ? width - 2 * kRadius : 0), luma_a_(width), luma_b_(width), squares_a_(width),
      squares_b_(width), products_(width), ring_(static_cast<std::size_t>(kTaps) * kMoments * inside_),
      down_(static_cast<std::size_t>(kMoments) * inside_), local_(inside_) {
  double taps[kTaps];
  double sum = 0;
  for (int k = -kRadius; k <= kRadius; ++k) sum += taps[k + kRadius] = std::exp(-k * k / (2 * kSigma * kSigma));
  for (int k = 0; k < kTaps; ++k) taps_[k] = static_cast<float>(taps[k] / sum);
}

void SsimRows::add(std::span<const std::uint8_t> row_a, PixelFormat format_a, std::span<const std::uint8_t> row_b,
                   PixelFormat format_b) {
  if (inside_ == 0) return;
  luma(row_a, format_a, luma_a_);
  luma(row_b, format_b, luma_b_);
  const std::size_t width = luma_a_.size();
  for (std::size_t x = 0; x < width; ++x) {
    squares_a_[x] = luma_a_[x] * luma_a_[x];
    squares_b_[x] = luma_b_[x] * luma_b_[x];
    products_[x] = luma_a_[x] * luma_b_[x];
  }
  // Filtered across, kept only where the whole window is inside (the border the usual
  // definition crops before averaging). Every sum runs over the taps in order, a tap at a time
  // for a whole row, so that the loops run on vectors and the sums are those of one position at
  // a time.
  float* moments = &ring_[static_cast<std::size_t>(rows_ % kTaps) * kMoments * inside_];
  const float* sources[kMoments] = {luma_a_.data(), luma_b_.data(), squares_a_.data(), squares_b_.data(), products_.data()};
  for (int i = 0; i < kMoments; ++i) {
    float* out = moments + static_cast<std::size_t>(i) * inside_;
    const float* in = sources[i];
    for (std::size_t x = 0; x < inside_; ++x) out[x] = taps_[0] * in[x];
    for (int k = 1; k < kTaps; ++k)
      for (std::size_t x = 0; x < inside_; ++x) out[x] += taps_[k] * in[x + static_cast<std::size_t>(k)];
  }
  ++rows_;
  if (rows_ < kTaps) return;
  // The window's rows, oldest first, filtered down.
  for (int i = 0; i < kMoments; ++i) {
    float* out = &down_[static_cast<std::size_t>(i) * inside_];
    for (int k = 0; k < kTaps; ++k) {
      const float* in = &ring_[(static_cast<std::size_t>((rows_ + static_cast<unsigned>(k)) % kTaps) * kMoments +
                                 static_cast<std::size_t>(i)) * inside_];
      if (k == 0) {
        for (std::size_t x = 0; x < inside_; ++x) out[x] = taps_[0] * in[x];
      } else {
        for (std::size_t x = 0; x < inside_; ++x) out[x] += taps_[k] * in[x];
      }
    }
  }
  const float* mx = &down_[0];
  const float* my = &down_[inside_];
  const float* mxx = &down_[2 * inside_];
  const float* myy = &down_[3 * inside_];
  const float* mxy = &down_[4 * inside_];
  for (std::size_t x = 0; x < inside_; ++x) {
    const double vx = mxx[x] - mx[x] * mx[x];
    const double vy = myy[x] - my[x] * my[x];
    const double cov = mxy[x] - mx[x] * my[x];
    const double ux = mx[x] + kCentre;
    const double uy = my[x] + kCentre;
    local_[x] = (2 * ux * uy + kC1) * (2 * cov + kC2) / ((ux * ux + uy * uy + kC1) * (vx + vy + kC2));
  }
  for (std::size_t x = 0; x < inside_; ++x) total_ += local_[x];
  count_ += inside_;
}

double SsimRows::result() const {
  return count_ == 0 ? std::numeric_limits<double>::quiet_NaN() : total_ / static_cast<double>(count_);
}

}  // namespace varnic::web
