// SPDX-License-Identifier: BSD-2-Clause
// Structural similarity of two pictures of the same size, for the page's comparison figures, fed
// one row pair at a time so that neither picture need be whole in memory.
//
// Mean SSIM of the luma planes (0.299 R + 0.587 G + 0.114 B, unrounded; grey pictures as they
// are) with an 11-tap Gaussian window of sigma 1.5, K1 = 0.01, K2 = 0.03 and a range of 255: the
// usual published definition, averaged over the positions whose window lies inside the picture.
// The filtering runs in single precision on samples centred on 128, four to a vector: against the
// same sums in double precision the mean moves by about 1e-7 (measured on quality 0..99), far
// below the four decimals shown.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "varnic/varnic.h"

namespace varnic::web {

class SsimRows {
 public:
  explicit SsimRows(std::uint32_t width);
  // Rows in picture order, top or bottom first (the window is symmetric).
  void add(std::span<const std::uint8_t> row_a, PixelFormat format_a, std::span<const std::uint8_t> row_b,
           PixelFormat format_b);
  // NaN when a side is shorter than the window.
  [[nodiscard]] double result() const;

 private:
  static constexpr int kRadius = 5;  // 11 taps: sigma 1.5 truncated at 3.5 sigma
  static constexpr int kTaps = 2 * kRadius + 1;
  // x, y, xx, yy, xy of the last kTaps rows, each filtered across: the ring the window slides on.
  static constexpr int kMoments = 5;

  std::size_t inside_;  // positions across whose window lies inside
  float taps_[kTaps];
  std::vector<float> luma_a_, luma_b_, squares_a_, squares_b_, products_;  // centred on 128
  std::vector<float> ring_;   // kTaps rows x kMoments x inside_
  std::vector<float> down_;   // kMoments x inside_: the window filtered down
  std::vector<double> local_;  // inside_: SSIM at each position of the row
  std::uint64_t rows_ = 0;
  double total_ = 0;
  std::uint64_t count_ = 0;
};

}  // namespace varnic::web
