#include "codec/picture_geometry.h"

namespace varnic::codec {

RowGeometry ComputeRowGeometry(std::uint32_t width, std::uint32_t height,
                               std::uint16_t bits_per_pixel) {
  RowGeometry g;
  const std::size_t data_bytes = std::size_t{bits_per_pixel} * width / 8;
  g.row_padding = static_cast<std::uint16_t>((4 - data_bytes % 4) % 4);
  g.row_bytes = data_bytes + g.row_padding;
  g.picture_bytes = g.row_bytes * height;
  g.index_row_padding = static_cast<std::uint16_t>((4 - width % 4) % 4);
  g.index_bytes = (std::size_t{width} + g.index_row_padding) * height;
  return g;
}

namespace {

constexpr std::array<std::uint8_t, kClampTableSize> MakeClampTable() {
  std::array<std::uint8_t, kClampTableSize> table{};
  for (int i = 0; i < kClampTableSize; ++i) {
    const int v = i - kClampTableBias;
    table[i] = static_cast<std::uint8_t>(v <= 0 ? 0 : (v >= 255 ? 255 : v));
  }
  return table;
}

constexpr std::array<std::uint8_t, kClampTableSize> kClampTable = MakeClampTable();

}  // namespace

const std::array<std::uint8_t, kClampTableSize>& ClampTable() { return kClampTable; }

float ElapsedSeconds(ClockReading start, ClockReading end) {
  const double seconds = static_cast<double>(end.seconds) - static_cast<double>(start.seconds);
  const double millis =
      static_cast<double>(end.milliseconds) - static_cast<double>(start.milliseconds);
  return static_cast<float>(seconds + millis * 0.001);
}

}  // namespace varnic::codec
