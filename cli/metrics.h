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

}  // namespace varnic::cli
