// Picture bytes to signed sample planes: fixed-point YIQ (ten fractional bits)
// for 24-bit BGR pictures, a plain level shift for 8-bit grey ones, and the
// padding of the planes up to their padded size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/plane.h"

namespace varnic::codec {

// A picture buffer: rows bottom-up, each row_stride bytes (the row data padded
// to a multiple of 4 bytes), 3 bytes per pixel (blue, green, red) or 1 (grey).
struct PictureView {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits_per_pixel = 24;  // 24 or 8
};

// Forward matrix in units of 1/1024 (rows sum to 1024, 0 and 0).
struct YiqSample {
  std::int16_t y, i, q;
};
// One pixel with the level shift already subtracted from each byte.
inline YiqSample RgbToYiqPixel(int r, int g, int b) {
  // >> on a negative int is an arithmetic shift (floor division by 1024).
  return {static_cast<std::int16_t>((306 * r + 601 * g + 117 * b) >> 10),
          static_cast<std::int16_t>((330 * (r - b) + 280 * (r - g)) >> 10),
          static_cast<std::int16_t>((320 * (b - g) + 216 * (r - g)) >> 10)};
}

// Colour path: fills the three planes (already allocated at the padded size,
// zero-filled) from a 24-bit view. Byte 0 is shifted by the Y offset, byte 1
// by the I offset and byte 2 by the Q offset, as the format defines.
void RgbToYiq(const PictureView& picture, std::int32_t offset_y, std::int32_t offset_i,
              std::int32_t offset_q, CoefficientPlane& y, CoefficientPlane& i,
              CoefficientPlane& q);

// Grey path: Y = pixel - offset.
void GreyToY(const PictureView& picture, std::int32_t offset, CoefficientPlane& y);

// Padding columns become 0; rows below the picture repeat the last real row.
void PadPlane(CoefficientPlane& plane, std::uint32_t width, std::uint32_t height);

}  // namespace varnic::codec
