// SPDX-License-Identifier: BSD-2-Clause
#include "codec/colour_transform.h"

#include <algorithm>
#include <cstring>

#include "utils/picture_layout.h"
#include "utils/wide_loops.h"

namespace varnic::codec {

std::size_t PictureRows::stride() const {
  return row_stride != 0 ? row_stride
                         : utils::row_geometry(width, height, bits_per_pixel).stride;
}

std::size_t PictureRows::required_bytes() const {
  if (width == 0 || height == 0) return 0;
  return stride() * (height - 1) + std::size_t{width} * (bits_per_pixel / 8);
}

namespace {

// One channel of a 24-bit row; kBlue is the byte index of blue (0 or 2).
// Pixels go through in chunks: the bytes are first split into three arrays
// so that format::rgb_to_yiq, of which each loop keeps one channel, vectorises.
template <int kBlue>
[[gnu::always_inline]] inline void rgb_row_to_float(const std::uint8_t* src, std::uint32_t width, int channel, std::int32_t oy,
                   std::int32_t oi, std::int32_t oq, float* out) {
  constexpr std::uint32_t kChunk = 256;
  alignas(32) std::int32_t b[kChunk];
  alignas(32) std::int32_t g[kChunk];
  alignas(32) std::int32_t r[kChunk];
  for (std::uint32_t x0 = 0; x0 < width; x0 += kChunk) {
    const std::uint32_t n = std::min(kChunk, width - x0);
    const std::uint8_t* p = src + 3 * std::size_t{x0};
    for (std::uint32_t k = 0; k < n; ++k) {
      b[k] = p[3 * k + kBlue] - oy;
      g[k] = p[3 * k + 1] - oi;
      r[k] = p[3 * k + 2 - kBlue] - oq;
    }
    float* o = out + x0;
    switch (channel) {
      case 0:
        for (std::uint32_t k = 0; k < n; ++k) o[k] = static_cast<float>(format::rgb_to_yiq(r[k], g[k], b[k]).y);
        break;
      case 1:
        for (std::uint32_t k = 0; k < n; ++k) o[k] = static_cast<float>(format::rgb_to_yiq(r[k], g[k], b[k]).i);
        break;
      default:
        for (std::uint32_t k = 0; k < n; ++k) o[k] = static_cast<float>(format::rgb_to_yiq(r[k], g[k], b[k]).q);
        break;
    }
  }
}

VARNIC_WIDE_LOOP(void, bgr_row_to_float_wide, (const std::uint8_t* src, std::uint32_t width, int channel,
                                         std::int32_t oy, std::int32_t oi, std::int32_t oq, float* out),
                 (src, width, channel, oy, oi, oq, out)) {
  rgb_row_to_float<0>(src, width, channel, oy, oi, oq, out);
}
VARNIC_WIDE_LOOP(void, rgb_row_to_float_wide, (const std::uint8_t* src, std::uint32_t width, int channel,
                                         std::int32_t oy, std::int32_t oi, std::int32_t oq, float* out),
                 (src, width, channel, oy, oi, oq, out)) {
  rgb_row_to_float<2>(src, width, channel, oy, oi, oq, out);
}

}  // namespace

void channel_row_to_float(const PictureRows& picture, const std::uint8_t* src, int channel,
                          const std::array<std::int32_t, 3>& offsets, std::uint32_t padded_width, float* out) {
  const std::uint32_t width = std::min(picture.width, padded_width);
  if (picture.bits_per_pixel == 8) {
    for (std::uint32_t x = 0; x < width; ++x) {
      out[x] = static_cast<float>(static_cast<std::int16_t>(src[x] - offsets[0]));
    }
  } else {
    // One loop per channel so that each vectorises.
    const std::int32_t oy = offsets[0];
    const std::int32_t oi = offsets[1];
    const std::int32_t oq = offsets[2];
    if (picture.rgb_order) {
      // Blue is byte 2 here and still takes the Y offset, as after a copy into
      // the program's layout.
      rgb_row_to_float_wide(src, width, channel, oy, oi, oq, out);
    } else {
      bgr_row_to_float_wide(src, width, channel, oy, oi, oq, out);
    }
  }
  std::fill(out + width, out + padded_width, 0.0f);
}

}  // namespace varnic::codec
