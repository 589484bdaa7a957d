#include "codec/colour_transform.h"

#include <algorithm>
#include <cstring>

#include "codec/picture_geometry.h"

namespace varnic::codec {

void RgbToYiq(const PictureView& picture, std::int32_t offset_y, std::int32_t offset_i,
              std::int32_t offset_q, CoefficientPlane& y, CoefficientPlane& i,
              CoefficientPlane& q) {
  const RowGeometry geometry = ComputeRowGeometry(picture.width, picture.height, 24);
  for (std::uint32_t row = 0; row < picture.height; ++row) {
    const std::uint8_t* src = picture.data + geometry.row_bytes * row;
    std::int16_t* out_y = y.row(row);
    std::int16_t* out_i = i.row(row);
    std::int16_t* out_q = q.row(row);
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const int b = src[3 * x] - offset_y;
      const int g = src[3 * x + 1] - offset_i;
      const int r = src[3 * x + 2] - offset_q;
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
  const RowGeometry geometry = ComputeRowGeometry(picture.width, picture.height, 8);
  for (std::uint32_t row = 0; row < picture.height; ++row) {
    const std::uint8_t* src = picture.data + geometry.row_bytes * row;
    std::int16_t* out = y.row(row);
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      out[x] = static_cast<std::int16_t>(src[x] - offset);
    }
  }
  PadPlane(y, picture.width, picture.height);
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
