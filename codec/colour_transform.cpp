#include "codec/colour_transform.h"

#include <algorithm>
#include <cstring>

#include "codec/picture_geometry.h"
#include "codec/wide_loops.h"

namespace varnic::codec {

std::size_t PictureView::stride() const {
  return row_stride != 0 ? row_stride
                         : ComputeRowGeometry(width, height, bits_per_pixel).row_bytes;
}

std::size_t PictureView::required_bytes() const {
  if (width == 0 || height == 0) return 0;
  return stride() * (height - 1) + std::size_t{width} * (bits_per_pixel / 8);
}

void RgbToYiq(const PictureView& picture, std::int32_t offset_y, std::int32_t offset_i,
              std::int32_t offset_q, CoefficientPlane& y, CoefficientPlane& i,
              CoefficientPlane& q) {
  const int blue = picture.rgb_order ? 2 : 0;
  for (std::uint32_t row = 0; row < picture.height; ++row) {
    const std::uint8_t* src = picture.bottom_row(row);
    std::int16_t* out_y = y.row(row);
    std::int16_t* out_i = i.row(row);
    std::int16_t* out_q = q.row(row);
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const int b = src[3 * x + blue] - offset_y;
      const int g = src[3 * x + 1] - offset_i;
      const int r = src[3 * x + 2 - blue] - offset_q;
      const YiqSample s = RgbToYiqPixel(r, g, b);
      out_y[x] = s.y;
      out_i[x] = s.i;
      out_q[x] = s.q;
    }
  }
  PadPlane(y, picture.width, picture.height);
  PadPlane(i, picture.width, picture.height);
  PadPlane(q, picture.width, picture.height);
}

void GreyToY(const PictureView& picture, std::int32_t offset, CoefficientPlane& y) {
  for (std::uint32_t row = 0; row < picture.height; ++row) {
    const std::uint8_t* src = picture.bottom_row(row);
    std::int16_t* out = y.row(row);
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      out[x] = static_cast<std::int16_t>(src[x] - offset);
    }
  }
  PadPlane(y, picture.width, picture.height);
}

namespace {

// One channel of a 24-bit row; kBlue is the byte index of blue (0 or 2).
// Pixels go through in chunks: the bytes are first split into three arrays
// so that RgbToYiqPixel, of which each loop keeps one channel, vectorises.
template <int kBlue>
[[gnu::always_inline]] inline void RgbRowToFloat(const std::uint8_t* src, std::uint32_t width, int channel, std::int32_t oy,
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
        for (std::uint32_t k = 0; k < n; ++k) o[k] = static_cast<float>(RgbToYiqPixel(r[k], g[k], b[k]).y);
        break;
      case 1:
        for (std::uint32_t k = 0; k < n; ++k) o[k] = static_cast<float>(RgbToYiqPixel(r[k], g[k], b[k]).i);
        break;
      default:
        for (std::uint32_t k = 0; k < n; ++k) o[k] = static_cast<float>(RgbToYiqPixel(r[k], g[k], b[k]).q);
        break;
    }
  }
}

VARNIC_WIDE_LOOPS void BgrRowToFloatWide(const std::uint8_t* src, std::uint32_t width, int channel,
                                         std::int32_t oy, std::int32_t oi, std::int32_t oq, float* out) {
  RgbRowToFloat<0>(src, width, channel, oy, oi, oq, out);
}
VARNIC_WIDE_LOOPS void RgbRowToFloatWide(const std::uint8_t* src, std::uint32_t width, int channel,
                                         std::int32_t oy, std::int32_t oi, std::int32_t oq, float* out) {
  RgbRowToFloat<2>(src, width, channel, oy, oi, oq, out);
}

}  // namespace

void ChannelRowToFloat(const PictureView& picture, int channel,
                       const std::array<std::int32_t, 3>& offsets, std::uint32_t padded_width,
                       std::uint32_t row, float* out) {
  const std::uint32_t width = std::min(picture.width, padded_width);
  const std::uint32_t source_row = std::min(row, picture.height - 1);
  const std::uint8_t* src = picture.bottom_row(source_row);
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
      RgbRowToFloatWide(src, width, channel, oy, oi, oq, out);
    } else {
      BgrRowToFloatWide(src, width, channel, oy, oi, oq, out);
    }
  }
  std::fill(out + width, out + padded_width, 0.0f);
}

void PadPlane(CoefficientPlane& plane, std::uint32_t width, std::uint32_t height) {
  if (width == 0 || height == 0) return;
  for (std::uint32_t row = 0; row < height; ++row) {
    std::int16_t* r = plane.row(row);
    std::fill(r + width, r + plane.width_, std::int16_t{0});
  }
  const std::size_t row_bytes = std::size_t{plane.width_} * sizeof(std::int16_t);
  for (std::uint32_t row = height; row < plane.height_; ++row) {
    std::memcpy(plane.row(row), plane.row(row - 1), row_bytes);
  }
}

}  // namespace varnic::codec
