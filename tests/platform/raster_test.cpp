#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/raster.h"

namespace varnic::platform {
namespace {

std::array<std::uint8_t, 3> pixel(const Framebuffer& fb, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(fb.width) + static_cast<std::size_t>(x)) * 3;
  return {fb.rgb[at], fb.rgb[at + 1], fb.rgb[at + 2]};
}

TEST(RasterTest, RowsArePaddedToFourBytes) {
  EXPECT_EQ(bitmap_stride(5, 24), 16u);
  EXPECT_EQ(bitmap_stride(5, 8), 8u);
  EXPECT_EQ(bitmap_stride(4, 8), 4u);
  EXPECT_EQ(bitmap_stride(4, 24), 12u);
  EXPECT_EQ(bitmap_stride(4, 16), 0u);
  EXPECT_EQ(bitmap_stride(0, 24), 0u);
}

TEST(RasterTest, IncompleteBitmapsAreRecognisedAndNotDrawn) {
  std::vector<std::uint8_t> bits(8 * 2 - 1, 0);  // one byte short of two 8-byte rows
  std::vector<std::uint8_t> table(1024, 0);
  BitmapView v{bits, 2, 2, 24, {}};
  EXPECT_FALSE(bitmap_is_complete(v));
  bits.push_back(0);
  v.bits = bits;
  EXPECT_TRUE(bitmap_is_complete(v));
  BitmapView indexed{bits, 2, 2, 8, {}};
  EXPECT_FALSE(bitmap_is_complete(indexed));  // no colour table
  indexed.colour_table = table;
  EXPECT_TRUE(bitmap_is_complete(indexed));
  BitmapView negative{bits, 2, -2, 24, {}};
  EXPECT_FALSE(bitmap_is_complete(negative));

  Framebuffer fb;
  fb.resize(4, 4);
  blit_bitmap(fb, BitmapView{std::span<const std::uint8_t>(bits).first(3), 2, 2, 24, {}}, 0, 0);
  stretch_bitmap(fb, BitmapView{std::span<const std::uint8_t>(bits).first(3), 2, 2, 24, {}}, 4, 4);
  for (std::uint8_t b : fb.rgb) EXPECT_EQ(b, 255);
}

TEST(RasterTest, BottomUpBlueGreenRedRowsLandTopDownAsRedGreenBlue) {
  // 2 x 2, rows of 6 bytes padded to 8; the first stored row is the bottom one.
  const std::vector<std::uint8_t> bits = {
      1, 2, 3, 4, 5, 6, 0, 0,       // bottom: (r3 g2 b1), (r6 g5 b4)
      7, 8, 9, 10, 11, 12, 0, 0,    // top
  };
  Framebuffer fb;
  fb.resize(3, 3);
  blit_bitmap(fb, BitmapView{bits, 2, 2, 24, {}}, 1, 0);
  EXPECT_EQ(pixel(fb, 1, 0), (std::array<std::uint8_t, 3>{9, 8, 7}));
  EXPECT_EQ(pixel(fb, 2, 0), (std::array<std::uint8_t, 3>{12, 11, 10}));
  EXPECT_EQ(pixel(fb, 1, 1), (std::array<std::uint8_t, 3>{3, 2, 1}));
  EXPECT_EQ(pixel(fb, 0, 0), (std::array<std::uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(pixel(fb, 1, 2), (std::array<std::uint8_t, 3>{255, 255, 255}));

  // Clipped on the left and the top.
  Framebuffer small;
  small.resize(1, 1);
  blit_bitmap(small, BitmapView{bits, 2, 2, 24, {}}, -1, -1);
  EXPECT_EQ(pixel(small, 0, 0), (std::array<std::uint8_t, 3>{6, 5, 4}));
}

TEST(RasterTest, IndexedPixelsGoThroughTheColourTable) {
  const std::vector<std::uint8_t> bits = {2, 0, 0, 0};
  std::vector<std::uint8_t> table(1024, 0);
  table[2 * 4 + 0] = 10;  // blue
  table[2 * 4 + 1] = 20;
  table[2 * 4 + 2] = 30;  // red
  Framebuffer fb;
  fb.resize(1, 1);
  blit_bitmap(fb, BitmapView{bits, 1, 1, 8, table}, 0, 0);
  EXPECT_EQ(pixel(fb, 0, 0), (std::array<std::uint8_t, 3>{30, 20, 10}));
}

TEST(RasterTest, StretchingRepeatsAndDeletesWholeColumnsAndRows) {
  // One row of three grey levels 0, 1, 2 stretched to 7 x 2: column x shows source x * 3 / 7.
  const std::vector<std::uint8_t> bits = {0, 1, 2, 0};
  std::vector<std::uint8_t> table(1024, 0);
  for (int i = 0; i < 3; ++i) table[static_cast<std::size_t>(i) * 4 + 2] = static_cast<std::uint8_t>(100 + i);
  Framebuffer fb;
  fb.resize(7, 2);
  stretch_bitmap(fb, BitmapView{bits, 3, 1, 8, table}, 7, 2);
  const int expected[7] = {100, 100, 100, 101, 101, 102, 102};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 7; ++x) EXPECT_EQ(pixel(fb, x, y)[0], expected[x]) << x << "," << y;
  }
  // Shrinking 4 columns to 2 keeps columns 0 and 2.
  const std::vector<std::uint8_t> four = {0, 1, 2, 3};
  for (int i = 0; i < 4; ++i) table[static_cast<std::size_t>(i) * 4 + 2] = static_cast<std::uint8_t>(100 + i);
  Framebuffer half;
  half.resize(2, 1);
  stretch_bitmap(half, BitmapView{four, 4, 1, 8, table}, 2, 1);
  EXPECT_EQ(pixel(half, 0, 0)[0], 100);
  EXPECT_EQ(pixel(half, 1, 0)[0], 102);
}

}  // namespace
}  // namespace varnic::platform
