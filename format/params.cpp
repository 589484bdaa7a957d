// SPDX-License-Identifier: BSD-2-Clause
#include "format/params.h"

#include <algorithm>
#include <limits>

namespace varnic::format {

void compute_padded_size(CodecParams& params) {
  // Valid settings and files never exceed 10 levels and 32767 pixels a side;
  // the caps only keep typed-in nonsense from wrapping around to a small size.
  const unsigned shift = params.total_levels < 16 ? params.total_levels : 16;
  const std::uint64_t n = std::uint64_t{1} << shift;
  constexpr std::uint64_t kCap = std::numeric_limits<std::uint32_t>::max();
  auto pad = [&](std::uint64_t side) { return std::min(side + (n - side % n) % n, kCap); };
  const std::uint64_t width = pad(params.image_width);
  const std::uint64_t height = pad(params.image_height);
  params.padded_width = static_cast<std::uint32_t>(width);
  params.padded_height = static_cast<std::uint32_t>(height);
  params.plane_size = static_cast<std::uint32_t>(std::min(width * height, kCap));
}

BandRect subband_rect(std::uint32_t padded_width, std::uint32_t padded_height, int total_levels,
                      int subband) {
  BandRect r;
  if (subband >= low_band_index(total_levels)) {
    r.rows = padded_height >> total_levels;
    r.cols = padded_width >> total_levels;
    return r;
  }
  const int level = subband / 3;
  const auto orientation = static_cast<Orientation>(subband % 3);
  r.rows = padded_height >> (level + 1);
  r.cols = padded_width >> (level + 1);
  if (orientation != Orientation::kH) r.row = r.rows;
  if (orientation != Orientation::kV) r.col = r.cols;
  return r;
}

}  // namespace varnic::format
