#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/settings.h"
#include "colour/colour.h"

namespace varnic::colour {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A colour picture buffer (bottom-up rows padded to 4 bytes) and the same
// pixels packed.
struct ColourPicture {
  int width, height;
  Bytes buffer;
  Bytes packed;
};

ColourPicture make_colour(int width, int height, unsigned seed, int levels = 256) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> v(0, levels - 1);
  ColourPicture p{width, height, {}, {}};
  const int row = 3 * width;
  const int stride = (row + 3) / 4 * 4;
  p.buffer.assign(static_cast<std::size_t>(stride * height), 0);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < row; ++i) {
      const auto b = static_cast<std::uint8_t>(v(rng) * (256 / levels));
      p.buffer[static_cast<std::size_t>(y * stride + i)] = b;
      p.packed.push_back(b);
    }
  }
  return p;
}

ColourTable sentinel_table() {
  ColourTable t;
  t.fill(0x5A);
  return t;
}

TEST(ConvertTo8Bit, PaddedRowsGiveTheIndicesOfThePackedPicture) {
  for (int width : {4, 5, 6, 7, 8}) {
    for (bool dither : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "width " << width << " dither " << dither);
      const ColourPicture pic = make_colour(width, 9, static_cast<unsigned>(width));
      Bytes packed_indices(static_cast<std::size_t>(width * 9));
      Bytes palette(768, 0);
      const int colours = quantize_to_palette(pic.packed, width, 9, packed_indices, dither, false, palette, 256);
      ASSERT_GT(colours, 0);

      Bytes index_buffer{1, 2, 3};
      ColourTable table = sentinel_table();
      ASSERT_EQ(convert_to_8bit(format::kImageModeColour, width, 9, pic.buffer, dither, index_buffer, table),
                format::StatusCode::kOk);
      const int stride = (width + 3) / 4 * 4;
      ASSERT_EQ(index_buffer.size(), static_cast<std::size_t>(stride * 9));
      for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < stride; ++x) {
          const std::uint8_t got = index_buffer[static_cast<std::size_t>(y * stride + x)];
          if (x < width) {
            ASSERT_EQ(got, packed_indices[static_cast<std::size_t>(y * width + x)]);
          } else {
            ASSERT_EQ(got, 0) << "padding";
          }
        }
      }
      for (int n = 0; n < 256; ++n) {
        const auto e = static_cast<std::size_t>(n);
        ASSERT_EQ(table[4 * e], palette[3 * e]);
        ASSERT_EQ(table[4 * e + 2], palette[3 * e + 2]);
        ASSERT_EQ(table[4 * e + 3], 0);
      }
    }
  }
}

TEST(ConvertTo8Bit, UnusedTableEntriesAreBlack) {
  // Four levels per component populate at most 64 cells; entries are never
  // black, as no cell centre is.
  const ColourPicture pic = make_colour(6, 5, 3, 4);
  Bytes index_buffer;
  ColourTable table = sentinel_table();
  ASSERT_EQ(convert_to_8bit(format::kImageModeColour, 6, 5, pic.buffer, false, index_buffer, table),
            format::StatusCode::kOk);
  int used = 0;
  while (used < 256 && (table[4 * static_cast<std::size_t>(used)] | table[4 * static_cast<std::size_t>(used) + 1] |
                        table[4 * static_cast<std::size_t>(used) + 2]) != 0) {
    ++used;
  }
  EXPECT_GE(used, 4);
  EXPECT_LT(used, 256);
  for (std::size_t i = 4 * static_cast<std::size_t>(used); i < table.size(); ++i) ASSERT_EQ(table[i], 0) << i;
  for (std::uint8_t index : index_buffer) EXPECT_LT(index, used);
}

TEST(ConvertTo8Bit, EqualColoursGetEqualIndicesWithoutDithering) {
  ColourPicture pic = make_colour(7, 6, 11);
  // Paint one colour at scattered places.
  const int stride = 24;
  for (int y = 0; y < 6; y += 2) {
    for (int x = y % 3; x < 7; x += 3) {
      std::uint8_t* px = &pic.buffer[static_cast<std::size_t>(y * stride + 3 * x)];
      px[0] = 17;
      px[1] = 201;
      px[2] = 99;
    }
  }
  Bytes index_buffer;
  ColourTable table{};
  ASSERT_EQ(convert_to_8bit(format::kImageModeColour, 7, 6, pic.buffer, false, index_buffer, table),
            format::StatusCode::kOk);
  int expected = -1;
  for (int y = 0; y < 6; y += 2) {
    for (int x = y % 3; x < 7; x += 3) {
      const int got = index_buffer[static_cast<std::size_t>(y * 8 + x)];
      if (expected < 0) expected = got;
      EXPECT_EQ(got, expected);
    }
  }
}

TEST(ConvertTo8Bit, EightBitPicturesAreCopiedAndKeepTheirTable) {
  for (std::uint16_t mode : {format::kImageModeGrey, format::kImageModePalette}) {
    Bytes picture(8 * 3);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i * 37);
    for (int y = 0; y < 3; ++y) picture[static_cast<std::size_t>(y * 8 + 7)] = 0;  // padding
    Bytes index_buffer;
    ColourTable table = sentinel_table();
    ASSERT_EQ(convert_to_8bit(mode, 7, 3, picture, true, index_buffer, table), format::StatusCode::kOk);
    EXPECT_EQ(index_buffer, picture);
    EXPECT_EQ(table, sentinel_table());
  }
}

TEST(ConvertTo8Bit, ShortBufferFailsWithZeroIndicesAndTheOldTable) {
  const ColourPicture pic = make_colour(5, 4, 2);
  Bytes cut(pic.buffer.begin(), pic.buffer.end() - 1);
  Bytes index_buffer(3, 9);
  ColourTable table = sentinel_table();
  EXPECT_NE(convert_to_8bit(format::kImageModeColour, 5, 4, cut, true, index_buffer, table), format::StatusCode::kOk);
  EXPECT_EQ(index_buffer, Bytes(32, 0));
  EXPECT_EQ(table, sentinel_table());
}

}  // namespace
}  // namespace varnic::colour
