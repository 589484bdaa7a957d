// SPDX-License-Identifier: BSD-2-Clause
// Software drawing of bottom-up bitmaps into a top-down RGB framebuffer. Backends share it so
// that every one of them scales pictures the same way (nearest neighbour: rows and columns are
// deleted or repeated, never blended).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace varnic::platform {

struct Framebuffer {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // top-down rows of red, green, blue, no padding

  void resize(int new_width, int new_height);  // contents become white
  void fill(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
  void set(int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
};

// Red, green, blue of pixel (column x, row y counted from the top) of a complete bitmap.
void bitmap_pixel(const BitmapView& bitmap, int x, int y, std::uint8_t rgb[3]);

// Both draw nothing for an incomplete bitmap (bitmap_is_complete).
void blit_bitmap(Framebuffer& target, const BitmapView& bitmap, int x, int y);
void stretch_bitmap(Framebuffer& target, const BitmapView& bitmap, int width, int height);

// Marks each character of a text as a small black box: enough to see where text went.
void draw_placeholder_text(Framebuffer& target, int x, int y, std::string_view text);

}  // namespace varnic::platform
