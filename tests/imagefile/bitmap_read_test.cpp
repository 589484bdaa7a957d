// SPDX-License-Identifier: BSD-2-Clause
#include <gtest/gtest.h>

#include <array>

#include <string>
#include <vector>

#include "imagefile/imagefile.h"
#include "tests/imagefile/file_builders.h"

namespace varnic::imagefile {
namespace {

using testing::BmpLayout;
using testing::buffer_of;
using testing::make_rows;
using Bytes = std::vector<std::uint8_t>;

TEST(BitmapRead, LetterOrderAndRowOrderGiveTheSamePicture) {
  BmpLayout up;
  up.width_ = 5;  // 15 bytes per row: one padding byte
  up.height_ = 4;
  up.rows_ = make_rows(5, 4, 3);
  up.pad_byte_ = 0xEE;  // garbage padding must not reach the buffer
  BmpLayout down = up;
  down.height_ = -4;
  BmpLayout swapped = up;
  swapped.type0_ = 'M';
  swapped.type1_ = 'B';
  for (const BmpLayout* s : {&up, &down, &swapped}) {
    PictureBuffer p;
    ASSERT_EQ(read_bitmap(s->build(), p), FileStatus::kOk);
    EXPECT_EQ(p.pixels, buffer_of(up.rows_));
    // The kept header describes the buffer: positive height, 40 bytes.
    EXPECT_EQ(p.header.info.height, 4);
    EXPECT_EQ(p.header.info.size, 40u);
  }
}

TEST(BitmapRead, EightBitTablesBecomeGreyLevelsOrAPalette) {
  BmpLayout grey;  // a grey table in reverse order: the pixels become levels
  grey.width_ = 3;
  grey.height_ = 2;
  grey.bit_count_ = 8;
  for (int i = 0; i < 256; ++i) grey.table_.insert(grey.table_.end(), 4, static_cast<std::uint8_t>(255 - i));
  grey.rows_ = {{0, 1, 200}, {255, 128, 7}};
  PictureBuffer p;
  ASSERT_EQ(read_bitmap(grey.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeGrey);
  EXPECT_EQ(p.pixels, buffer_of({{255, 254, 55}, {0, 127, 248}}));
  EXPECT_EQ(p.header.colour_table[4 * 77 + 2], 77);

  BmpLayout none = grey;  // no table at all: the grey ramp, pixels kept
  none.table_.clear();
  p.header.colour_table.fill(0x33);
  ASSERT_EQ(read_bitmap(none.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeGrey);
  EXPECT_EQ(p.pixels, buffer_of(none.rows_));
  EXPECT_EQ(p.header.colour_table[4 * 250 + 1], 250);

  // A palette after a classic and after a V5 header (read at 14 + 124, not at 54).
  for (std::uint32_t header : {40u, 124u}) {
    SCOPED_TRACE(header);
    BmpLayout palette;
    palette.header_size_ = header;
    palette.width_ = 2;
    palette.height_ = 2;
    palette.bit_count_ = 8;
    palette.colours_used_ = 3;
    palette.table_ = {10, 20, 30, 99, 0, 0, 0, 0, 255, 255, 255, 0};
    palette.rows_ = {{0, 1}, {2, 0}};
    ASSERT_EQ(read_bitmap(palette.build(), p), FileStatus::kOk);
    EXPECT_EQ(p.image_mode, format::kImageModePalette);
    EXPECT_EQ(p.pixels, buffer_of(palette.rows_));
    // The reserved byte of each entry is 0 in a display header.
    EXPECT_EQ(Bytes(p.header.colour_table.begin(), p.header.colour_table.begin() + 12),
              (Bytes{10, 20, 30, 0, 0, 0, 0, 0, 255, 255, 255, 0}));
    EXPECT_EQ(p.header.info.colours_used, 3u);
    EXPECT_EQ(p.header.info.size, 40u);
  }
}

TEST(BitmapRead, TwentyFourBitFilesIgnoreATable) {
  BmpLayout s;
  s.width_ = 1;
  s.height_ = 1;
  s.table_.assign(16, 0x77);  // a table-like block in the gap
  s.rows_ = {{1, 2, 3}};
  PictureBuffer p;
  ASSERT_EQ(read_bitmap(s.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeColour);
  EXPECT_EQ(p.pixels, (Bytes{1, 2, 3, 0}));
  s.colours_used_ = 256;  // a declared table past the end does not refuse a 24-bit file
  s.table_.clear();
  ASSERT_EQ(read_bitmap(s.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.pixels, (Bytes{1, 2, 3, 0}));
}

TEST(BitmapRead, RefusalsNameTheFault) {
  BmpLayout good;
  good.width_ = 5;
  good.height_ = 3;
  good.rows_ = make_rows(5, 3, 3);
  struct Case {
    const char* name;
    Bytes file;
    FileStatus status;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, auto change, FileStatus status) {
    BmpLayout s = good;
    change(s);
    cases.push_back({name, s.build(), status});
  };
  with("type BX", [](BmpLayout& s) { s.type1_ = 'X'; }, FileStatus::kNotBitmap);
  with("core header", [](BmpLayout& s) { s.header_size_ = 12; }, FileStatus::kNotBitmap);
  for (std::uint16_t bits : std::to_array<std::uint16_t>({1, 16, 32})) with("depth", [=](BmpLayout& s) { s.bit_count_ = bits; }, FileStatus::kBitmapDepth);
  for (std::uint32_t c : std::to_array<std::uint32_t>({1, 3})) with("compressed", [=](BmpLayout& s) { s.compression_ = c; }, FileStatus::kBitmapCompressed);
  for (std::int32_t w : {0, -5, 32768}) with("width", [=](BmpLayout& s) { s.width_ = w; }, FileStatus::kBitmapSize);
  for (std::int32_t h : {0, 65539, -32768, INT32_MIN}) with("height", [=](BmpLayout& s) { s.height_ = h; }, FileStatus::kBitmapSize);
  with("257 colours", [](BmpLayout& s) { s.colours_used_ = 257; }, FileStatus::kBitmapColours);
  with("declared 32767 square", [](BmpLayout& s) { s.width_ = s.height_ = 32767; }, FileStatus::kPictureTooLarge);
  with("taller than data", [](BmpLayout& s) { s.height_ = 4; }, FileStatus::kBitmapTruncated);
  with("table past the end", [](BmpLayout& s) {
    s.bit_count_ = 8;
    s.colours_used_ = 256;
    s.rows_.clear();
  }, FileStatus::kBitmapTruncated);
  Bytes f = good.build();
  f.pop_back();  // the last padding byte of the top row
  cases.push_back({"one byte short", f, FileStatus::kBitmapTruncated});
  Bytes g = good.build();
  testing::store_u32(g, 10, static_cast<std::uint32_t>(g.size() + 1));
  cases.push_back({"offset past the end", g, FileStatus::kBitmapTruncated});
  cases.push_back({"header cut", Bytes(f.begin(), f.begin() + 53), FileStatus::kBitmapTruncated});
  cases.push_back({"one byte", {'B'}, FileStatus::kNotBitmap});
  // That a refusal leaves the caller's picture alone is the hostile-file sweep's to check.
  for (const Case& c : cases) {
    PictureBuffer p;
    EXPECT_EQ(read_bitmap(c.file, p, ReadLimits{1u << 20}), c.status) << c.name;
  }
}

TEST(BitmapRead, PixelLimitIsCheckedBeforeTheData) {
  BmpLayout s;
  s.width_ = 11;
  s.height_ = 10;
  s.rows_ = make_rows(11, 10, 3);
  PictureBuffer p;
  EXPECT_EQ(read_bitmap(s.build(), p, ReadLimits{109}), FileStatus::kPictureTooLarge);
  EXPECT_EQ(read_bitmap(s.build(), p, ReadLimits{110}), FileStatus::kOk);
}

}  // namespace
}  // namespace varnic::imagefile
