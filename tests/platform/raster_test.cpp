// The shared software drawing: byte order, clipping, colour tables, nearest-neighbour scaling,
// and nothing drawn from a bitmap that is shorter than it claims.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/raster.h"

namespace varnic::platform {
namespace {

std::array<std::uint8_t, 3> pixel(const Framebuffer& fb, int x, int y) {
  const auto at = static_cast<std::size_t>(y * fb.width + x) * 3;
  return {fb.rgb[at], fb.rgb[at + 1], fb.rgb[at + 2]};
}
constexpr std::array<std::uint8_t, 3> kWhite = {255, 255, 255};

TEST(RasterTest, IncompleteBitmapsAreRecognisedAndNotDrawn) {
  EXPECT_EQ(bitmap_stride(5, 24), 16u);  // rows padded to 4 bytes
  EXPECT_EQ(bitmap_stride(5, 8), 8u);
  std::vector<std::uint8_t> bits(8 * 2 - 1, 0);  // one byte short of two 8-byte rows
  const std::vector<std::uint8_t> table(1024, 0);
  EXPECT_FALSE(bitmap_is_complete(BitmapView{bits, 2, 2, 24, {}}));
  bits.push_back(0);
  EXPECT_TRUE(bitmap_is_complete(BitmapView{bits, 2, 2, 24, {}}));
  EXPECT_FALSE(bitmap_is_complete(BitmapView{bits, 2, 2, 8, {}}));  // no colour table
  EXPECT_TRUE(bitmap_is_complete(BitmapView{bits, 2, 2, 8, table}));
  EXPECT_FALSE(bitmap_is_complete(BitmapView{bits, 2, -2, 24, {}}));
  EXPECT_FALSE(bitmap_is_complete(BitmapView{bits, 2, 2, 16, {}}));
  Framebuffer fb;
  fb.resize(4, 4);
  const BitmapView short_view{std::span<const std::uint8_t>(bits).first(3), 2, 2, 24, {}};
  blit_bitmap(fb, short_view, 0, 0);
  stretch_bitmap(fb, short_view, 4, 4);
  for (std::uint8_t b : fb.rgb) ASSERT_EQ(b, 255);
}

TEST(RasterTest, BottomUpBlueGreenRedRowsLandTopDownAsRedGreenBlueClipped) {
  const std::vector<std::uint8_t> bits = {1, 2, 3, 4, 5, 6, 0, 0,       // bottom row, padded to 8 bytes
                                          7, 8, 9, 10, 11, 12, 0, 0};   // top row
  Framebuffer fb;
  fb.resize(3, 3);
  blit_bitmap(fb, BitmapView{bits, 2, 2, 24, {}}, 1, 0);
  EXPECT_EQ(pixel(fb, 1, 0), (std::array<std::uint8_t, 3>{9, 8, 7}));
  EXPECT_EQ(pixel(fb, 2, 0), (std::array<std::uint8_t, 3>{12, 11, 10}));
  EXPECT_EQ(pixel(fb, 1, 1), (std::array<std::uint8_t, 3>{3, 2, 1}));
  EXPECT_EQ(pixel(fb, 0, 0), kWhite);
  EXPECT_EQ(pixel(fb, 1, 2), kWhite);
  Framebuffer small;
  small.resize(1, 1);
  blit_bitmap(small, BitmapView{bits, 2, 2, 24, {}}, -1, -1);  // clipped on the left and the top
  EXPECT_EQ(pixel(small, 0, 0), (std::array<std::uint8_t, 3>{6, 5, 4}));
}

TEST(RasterTest, StretchingRepeatsAndDeletesWholeColumnsThroughTheColourTable) {
  // One row of indices 0..3 whose table entries have red 100 + i (blue first in a table entry).
  const std::vector<std::uint8_t> bits = {0, 1, 2, 3};
  std::vector<std::uint8_t> table(1024, 0);
  for (std::size_t i = 0; i < 4; ++i) table[i * 4 + 2] = static_cast<std::uint8_t>(100 + i);
  Framebuffer fb;
  fb.resize(7, 2);
  stretch_bitmap(fb, BitmapView{bits, 3, 1, 8, table}, 7, 2);  // column x shows source x * 3 / 7
  const int expected[7] = {100, 100, 100, 101, 101, 102, 102};
  for (int i = 0; i < 14; ++i) EXPECT_EQ(pixel(fb, i % 7, i / 7)[0], expected[i % 7]) << i;
  EXPECT_EQ(pixel(fb, 0, 0)[2], 0);
  Framebuffer half;
  half.resize(2, 1);
  stretch_bitmap(half, BitmapView{bits, 4, 1, 8, table}, 2, 1);  // keeps columns 0 and 2
  EXPECT_EQ(pixel(half, 0, 0)[0], 100);
  EXPECT_EQ(pixel(half, 1, 0)[0], 102);
}

}  // namespace
}  // namespace varnic::platform
