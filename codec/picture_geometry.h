// Layout of the picture buffers (rows bottom-up, each padded with zero bytes to
// a multiple of 4), the byte clamp used when samples become pixels, and the
// elapsed-time rule of the timings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace varnic::codec {

struct RowGeometry {
  std::uint16_t row_padding = 0;        // bytes after each picture row
  std::size_t row_bytes = 0;            // picture row including its padding
  std::size_t picture_bytes = 0;        // whole picture buffer
  std::uint16_t index_row_padding = 0;  // bytes after each 8-bit index row
  std::size_t index_bytes = 0;          // whole 8-bit index buffer
};

// bits_per_pixel is 8 or 24 for real pictures; any value is computed safely.
RowGeometry ComputeRowGeometry(std::uint32_t width, std::uint32_t height,
                               std::uint16_t bits_per_pixel);

// Entry i: 0 up to 1024, i - 1024 up to 1279, then 255. A sample s with its
// level shift added becomes ClampTable()[s + 1024].
inline constexpr int kClampTableSize = 2048;
inline constexpr int kClampTableBias = 1024;
const std::array<std::uint8_t, kClampTableSize>& ClampTable();

// Clamps any int to a byte through the table's rule, including values the
// table cannot index (hostile planes reach them).
inline std::uint8_t ClampSample(int shifted_sample) {
  if (shifted_sample <= 0) return 0;
  if (shifted_sample >= 255) return 255;
  return static_cast<std::uint8_t>(shifted_sample);
}

// One wall-clock reading: whole seconds and milliseconds.
struct ClockReading {
  std::uint32_t seconds = 0;
  std::uint16_t milliseconds = 0;
};

// (end.s - start.s) + (end.ms - start.ms) * 0.001 in double, stored as float.
float ElapsedSeconds(ClockReading start, ClockReading end);

}  // namespace varnic::codec
