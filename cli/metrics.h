// SPDX-License-Identifier: BSD-2-Clause
// Picture comparison for `compare` and `--target-psnr`.
#pragma once

#include "varnic/varnic.h"

namespace varnic::cli {

struct Comparison {
  double psnr_rgb = 0;   // over all red, green and blue samples; infinity when identical
  double psnr_y = 0;     // over luma 0.299 R + 0.587 G + 0.114 B (unrounded)
  int max_difference = 0;  // largest absolute difference of one sample
};

// Grey pictures count as colour pictures with equal components. Sizes must match.
[[nodiscard]] Result<Comparison> compare_pictures(const Picture& a, const Picture& b);

// The same comparison fed one row pair at a time, for pictures that are never whole in memory
// (the web page compares rows as they are decoded). The sum over RGB is of whole numbers, exact
// in any row order; the luma sum follows the order the rows come in.
class RowComparison {
 public:
  void add(std::span<const std::uint8_t> row_a, PixelFormat format_a, std::span<const std::uint8_t> row_b,
           PixelFormat format_b, std::uint32_t width);
  [[nodiscard]] Comparison result() const;

 private:
  double sum_rgb_ = 0;
  double sum_y_ = 0;
  std::uint64_t pixels_ = 0;
  int max_difference_ = 0;
};

}  // namespace varnic::cli
