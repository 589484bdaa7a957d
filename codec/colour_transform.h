// SPDX-License-Identifier: BSD-2-Clause
// The encoder's front: picture rows to the samples of one padded plane, fixed-point YIQ for
// 24-bit pictures, a plain level shift for 8-bit grey ones.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "format/colour_space.h"

namespace varnic::codec {


// A picture buffer: by default the program's own layout, rows bottom-up, each
// row_stride bytes (the row data padded to a multiple of 4 bytes), 3 bytes per
// pixel (blue, green, red) or 1 (grey). The layout fields let a caller's
// buffer be read in place instead of being copied into that layout.
struct PictureRows {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits_per_pixel = 24;  // 24 or 8
  std::size_t row_stride = 0;         // bytes from one row to the next; 0: padded to 4
  bool top_down = false;              // the first row in memory is the top row
  bool rgb_order = false;             // 24-bit pixels are red, green, blue
  // Set instead of data for a picture read row by row (the channel analysis reads each row
  // twice per channel): copies row y, counted from the bottom, into `out` (width pixels) and
  // returns true, or false when the row cannot be had. Called from several threads at once,
  // each with its own buffer.
  std::function<bool(std::uint32_t y, std::uint8_t* out)> read_bottom_row = nullptr;

  std::size_t stride() const;
  // Bytes the view must cover: every row's pixels, the last row's padding not needed.
  std::size_t required_bytes() const;
  // Row y of the picture counted from the bottom, as the planes count rows.
  const std::uint8_t* bottom_row(std::uint32_t y) const {
    return data + stride() * (top_down ? height - 1 - y : y);
  }
};

// One row of one channel's padded plane (0 Y, 1 I, 2 Q for colour; 0 for grey) as floats, from a
// row of `picture`'s layout and width: colour samples are format::rgb_to_yiq of the bytes less
// their level shifts (byte 0 shifted by the Y offset, byte 1 by the I offset, byte 2 by the Q
// offset, as the format defines), grey samples the byte less the Y offset. Columns past the
// picture are 0 (the encoder repeats the last row for rows past it).
void channel_row_to_float(const PictureRows& picture, const std::uint8_t* source_row, int channel,
                          const std::array<std::int32_t, 3>& offsets, std::uint32_t padded_width, float* out);

}  // namespace varnic::codec
