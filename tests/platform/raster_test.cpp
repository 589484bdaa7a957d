// SPDX-License-Identifier: BSD-2-Clause
// The shared software drawing: nearest-neighbour scaling through colour tables, and nothing drawn
// from a bitmap shorter than it claims.
#include <gtest/gtest.h>

#include <vector>

#include "platform/raster.h"

namespace varnic::platform {
namespace {

TEST(RasterTest, IncompleteBitmapsAreRecognisedAndNotDrawn) {
  std::vector<std::uint8_t> bits(8 * 2 - 1, 0);  // one byte short of two rows of 2 pixels padded to 8 bytes
  const std::vector<std::uint8_t> table(1024, 0);
  EXPECT_FALSE(bitmap_is_complete(BitmapView{bits, 2, 2, 24, {}}));
  Framebuffer fb;
  fb.resize(4, 4);
  blit_bitmap(fb, BitmapView{bits, 2, 2, 24, {}}, 0, 0);
  stretch_bitmap(fb, BitmapView{bits, 2, 2, 24, {}}, 4, 4);
  EXPECT_EQ(fb.rgb, std::vector<std::uint8_t>(4 * 4 * 3, 255));
  bits.push_back(0);
  EXPECT_TRUE(bitmap_is_complete(BitmapView{bits, 2, 2, 24, {}}));
  EXPECT_FALSE(bitmap_is_complete(BitmapView{bits, 2, 2, 8, {}}));  // no colour table
  EXPECT_TRUE(bitmap_is_complete(BitmapView{bits, 2, 2, 8, table}));
  EXPECT_FALSE(bitmap_is_complete(BitmapView{bits, 2, -2, 24, {}}));
  EXPECT_FALSE(bitmap_is_complete(BitmapView{bits, 2, 2, 16, {}}));
}

TEST(RasterTest, StretchingRepeatsAndDeletesWholeColumnsThroughTheColourTable) {
  const std::vector<std::uint8_t> bits = {0, 1, 2, 3};  // one row; entry i has red 100 + i, blue 0
  std::vector<std::uint8_t> table(1024, 0);
  for (std::size_t i = 0; i < 4; ++i) table[i * 4 + 2] = static_cast<std::uint8_t>(100 + i);
  for (const auto& [from, to, columns] : {std::tuple{3, 7, std::vector<int>{0, 0, 0, 1, 1, 2, 2}},  // x * 3 / 7
                                          std::tuple{4, 2, std::vector<int>{0, 2}}}) {
    Framebuffer fb;
    fb.resize(to, 2);
    stretch_bitmap(fb, BitmapView{bits, from, 1, 8, table}, to, 2);
    std::vector<std::uint8_t> expected;
    for (int y = 0; y < 2; ++y) {
      for (const int x : columns) expected.insert(expected.end(), {static_cast<std::uint8_t>(100 + x), 0, 0});
    }
    EXPECT_EQ(fb.rgb, expected) << from << " to " << to;
  }
}

}  // namespace
}  // namespace varnic::platform
