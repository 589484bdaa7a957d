// SPDX-License-Identifier: BSD-2-Clause
#include "utils/picture_layout.h"

#include "varnic/rules.h"

namespace varnic::utils {

RowGeometry row_geometry(std::uint32_t width, std::uint32_t height, int bits_per_pixel) {
  RowGeometry g;
  g.data_bytes = static_cast<std::size_t>(bits_per_pixel < 0 ? 0 : bits_per_pixel) * width / 8;
  g.stride = static_cast<std::size_t>(padded_row_bytes(g.data_bytes, 1));
  g.row_padding = g.stride - g.data_bytes;
  g.picture_bytes = g.stride * height;
  g.index_row_padding = static_cast<std::size_t>(padded_row_bytes(width, 1)) - width;
  g.index_bytes = (std::size_t{width} + g.index_row_padding) * height;
  return g;
}

float elapsed_seconds(ClockReading start, ClockReading end) {
  const double seconds = static_cast<double>(end.seconds) - static_cast<double>(start.seconds);
  const double millis = static_cast<double>(end.milliseconds) - static_cast<double>(start.milliseconds);
  return static_cast<float>(seconds + millis * 0.001);
}

}  // namespace varnic::utils
