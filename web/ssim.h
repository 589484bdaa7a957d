// SPDX-License-Identifier: BSD-2-Clause
// Structural similarity of two pictures of the same size, for the page's comparison figures.
#pragma once

#include "varnic/varnic.h"

namespace varnic::web {

// Mean SSIM of the luma planes (0.299 R + 0.587 G + 0.114 B, unrounded; grey pictures as they are)
// with an 11-tap Gaussian window of sigma 1.5, K1 = 0.01, K2 = 0.03 and a range of 255: the
// usual published definition, averaged over the positions whose window lies inside the picture.
// NaN when the sizes differ or a side is shorter than the window.
[[nodiscard]] double ssim(const Picture& a, const Picture& b);

}  // namespace varnic::web
