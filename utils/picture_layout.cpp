// SPDX-License-Identifier: BSD-2-Clause
#include "utils/picture_layout.h"

namespace varnic::utils {

RowGeometry row_geometry(std::uint32_t width, std::uint32_t height, int bits_per_pixel) {
  RowGeometry g;
  g.data_bytes = static_cast<std::size_t>(bits_per_pixel < 0 ? 0 : bits_per_pixel) * width / 8;
  g.row_padding = (4 - g.data_bytes % 4) % 4;
  g.stride = g.data_bytes + g.row_padding;
  g.picture_bytes = g.stride * height;
  g.index_row_padding = (4 - width % 4) % 4;
  g.index_bytes = (std::size_t{width} + g.index_row_padding) * height;
  return g;
}

float elapsed_seconds(ClockReading start, ClockReading end) {
  const double seconds = static_cast<double>(end.seconds) - static_cast<double>(start.seconds);
  const double millis = static_cast<double>(end.milliseconds) - static_cast<double>(start.milliseconds);
  return static_cast<float>(seconds + millis * 0.001);
}

}  // namespace varnic::utils
