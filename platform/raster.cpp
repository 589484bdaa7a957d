// SPDX-License-Identifier: BSD-2-Clause
#include "platform/raster.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "varnic/rules.h"

namespace varnic::platform {

std::size_t bitmap_stride(int width, int bits_per_pixel) {
  if (width <= 0 || (bits_per_pixel != 8 && bits_per_pixel != 24)) return 0;
  return static_cast<std::size_t>(varnic::padded_row_bytes(static_cast<std::uint64_t>(width), bits_per_pixel / 8));
}

bool bitmap_is_complete(const BitmapView& bitmap) {
  const std::size_t stride = bitmap_stride(bitmap.width, bitmap.bits_per_pixel);
  if (stride == 0 || bitmap.height <= 0) return false;
  if (bitmap.bits.size() / stride < static_cast<std::size_t>(bitmap.height)) return false;
  return bitmap.bits_per_pixel == 24 || bitmap.colour_table.size() >= 1024;
}

void Framebuffer::resize(int new_width, int new_height) {
  width = std::max(new_width, 0);
  height = std::max(new_height, 0);
  rgb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 255);
}

void Framebuffer::fill(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    rgb[i] = red;
    rgb[i + 1] = green;
    rgb[i + 2] = blue;
  }
}

void Framebuffer::set(int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
  rgb[at] = red;
  rgb[at + 1] = green;
  rgb[at + 2] = blue;
}

void bitmap_pixel(const BitmapView& bitmap, int x, int y, std::uint8_t rgb[3]) {
  const std::size_t stride = bitmap_stride(bitmap.width, bitmap.bits_per_pixel);
  // Row y from the top is stored row height-1-y from the start.
  const std::size_t row = static_cast<std::size_t>(bitmap.height - 1 - y) * stride;
  if (bitmap.bits_per_pixel == 24) {
    const std::uint8_t* p = bitmap.bits.data() + row + static_cast<std::size_t>(x) * 3;
    rgb[0] = p[2];
    rgb[1] = p[1];
    rgb[2] = p[0];
  } else {
    const std::uint8_t index = bitmap.bits[row + static_cast<std::size_t>(x)];
    const std::uint8_t* entry = bitmap.colour_table.data() + static_cast<std::size_t>(index) * 4;
    rgb[0] = entry[2];
    rgb[1] = entry[1];
    rgb[2] = entry[0];
  }
}

void blit_bitmap(Framebuffer& target, const BitmapView& bitmap, int x, int y) {
  if (!bitmap_is_complete(bitmap)) return;
  const int x0 = std::max(0, -x), y0 = std::max(0, -y);
  const int x1 = std::min(bitmap.width, target.width - x), y1 = std::min(bitmap.height, target.height - y);
  std::uint8_t rgb[3];
  for (int row = y0; row < y1; ++row) {
    for (int col = x0; col < x1; ++col) {
      bitmap_pixel(bitmap, col, row, rgb);
      target.set(x + col, y + row, rgb[0], rgb[1], rgb[2]);
    }
  }
}

void stretch_bitmap(Framebuffer& target, const BitmapView& bitmap, int width, int height) {
  if (!bitmap_is_complete(bitmap) || width <= 0 || height <= 0) return;
  const int w = std::min(width, target.width), h = std::min(height, target.height);
  std::uint8_t rgb[3];
  for (int row = 0; row < h; ++row) {
    // 64-bit products: sizes reach 65535 on both sides.
    const int src_row = static_cast<int>(static_cast<std::int64_t>(row) * bitmap.height / height);
    for (int col = 0; col < w; ++col) {
      const int src_col = static_cast<int>(static_cast<std::int64_t>(col) * bitmap.width / width);
      bitmap_pixel(bitmap, src_col, src_row, rgb);
      target.set(col, row, rgb[0], rgb[1], rgb[2]);
    }
  }
}

void draw_placeholder_text(Framebuffer& target, int x, int y, std::string_view text) {
  constexpr int kCellWidth = 7, kCellHeight = 13;
  int cx = x;
  for (char c : text) {
    if (c != ' ') {
      for (int row = 2; row < kCellHeight - 2; ++row) {
        for (int col = 1; col < kCellWidth - 1; ++col) target.set(cx + col, y + row, 0, 0, 0);
      }
    }
    cx += kCellWidth;
  }
}

}  // namespace varnic::platform
