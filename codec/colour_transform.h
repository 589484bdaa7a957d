// Picture bytes to signed sample planes: fixed-point YIQ (ten fractional bits)
// for 24-bit BGR pictures, a plain level shift for 8-bit grey ones, and the
// padding of the planes up to their padded size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/plane.h"

namespace varnic::codec {

// A picture buffer: by default the program's own layout, rows bottom-up, each
// row_stride bytes (the row data padded to a multiple of 4 bytes), 3 bytes per
// pixel (blue, green, red) or 1 (grey). The layout fields let a caller's
// buffer be read in place instead of being copied into that layout.
struct PictureView {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits_per_pixel = 24;  // 24 or 8
  std::size_t row_stride = 0;         // bytes from one row to the next; 0: padded to 4
  bool top_down = false;              // the first row in memory is the top row
  bool rgb_order = false;             // 24-bit pixels are red, green, blue

  std::size_t stride() const;
  // Bytes the view must cover: every row's pixels, the last row's padding not needed.
  std::size_t required_bytes() const;
  // Row y of the picture counted from the bottom, as the planes count rows.
  const std::uint8_t* bottom_row(std::uint32_t y) const {
    return data + stride() * (top_down ? height - 1 - y : y);
  }
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

// Row `row` of one channel's padded plane (0 Y, 1 I, 2 Q for colour; 0 for
// grey) as floats, exactly the values RgbToYiq or GreyToY followed by
// PadPlane store there: `offsets` are the Y, I, Q pixel offsets, columns past
// the picture are 0 and rows past it repeat its last row.
void ChannelRowToFloat(const PictureView& picture, int channel,
                       const std::array<std::int32_t, 3>& offsets, std::uint32_t padded_width,
                       std::uint32_t row, float* out);

// Padding columns become 0; rows below the picture repeat the last real row.
void PadPlane(CoefficientPlane& plane, std::uint32_t width, std::uint32_t height);

}  // namespace varnic::codec
