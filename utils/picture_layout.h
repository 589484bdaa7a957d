// SPDX-License-Identifier: BSD-2-Clause
// Layout of the program's picture buffers (rows bottom-up, each padded with zero bytes to a
// multiple of 4, as the platform's device-independent bitmaps are), and the wall-clock readings
// the timings are taken with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnic::utils {

struct RowGeometry {
  std::size_t data_bytes = 0;         // bits_per_pixel x width / 8: the pixels of one row
  std::size_t row_padding = 0;        // zero bytes after each row, 0..3
  std::size_t stride = 0;             // data_bytes + row_padding
  std::size_t picture_bytes = 0;      // stride x height
  std::size_t index_row_padding = 0;  // padding of each row of an 8-bit index buffer
  std::size_t index_bytes = 0;        // (width + index_row_padding) x height
};

// bits_per_pixel is 8 or 24 for real pictures; any value is computed without overflow for
// sides up to 2^32.
RowGeometry row_geometry(std::uint32_t width, std::uint32_t height, int bits_per_pixel);

// One wall-clock reading: whole seconds and milliseconds (0..999).
struct ClockReading {
  std::uint32_t seconds = 0;
  std::uint16_t milliseconds = 0;
};

// (end.seconds - start.seconds) + (end.milliseconds - start.milliseconds) x 0.001, evaluated in
// double and stored as float: the timings shown to the user are rounded exactly so.
float elapsed_seconds(ClockReading start, ClockReading end);

}  // namespace varnic::utils
