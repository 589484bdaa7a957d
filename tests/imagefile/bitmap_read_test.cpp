#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imagefile/imagefile.h"
#include "tests/imagefile/file_builders.h"

namespace varnic::imagefile {
namespace {

using testing::BmpSpec;
using testing::make_rows;

// The picture-buffer layout of rows given top first: bottom-up, zero padding.
std::vector<std::uint8_t> buffer_of(const std::vector<std::vector<std::uint8_t>>& rows) {
  std::vector<std::uint8_t> out;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    out.insert(out.end(), it->begin(), it->end());
    while (out.size() % 4 != 0) out.push_back(0);
  }
  return out;
}

std::vector<std::uint8_t> grey_table_reversed() {
  std::vector<std::uint8_t> t;
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(255 - i);
    t.insert(t.end(), {v, v, v, 0});
  }
  return t;
}

PictureBuffer sentinel() {
  PictureBuffer p;
  p.width = 7;
  p.height = 3;
  p.bits_per_pixel = 8;
  p.image_mode = format::kImageModePalette;
  p.pixels.assign(p.geometry().picture_bytes, 0x5A);
  p.header.colour_table.fill(0x33);
  return p;
}

std::vector<std::uint8_t> slurp(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(read_whole_file(path, bytes, 1u << 24), FileStatus::kOk) << path;
  return bytes;
}

TEST(BitmapRead, ConformanceColourPictureKeepsFileRows) {
  // 2 × 2, 24 bits: two rows of 6 bytes plus 2 bytes padding each, bottom row first.
  const auto file = slurp(std::string(VARNIC_TEST_DATA) + "/conformance/pics/astronaut_2x2.bmp");
  PictureBuffer p;
  ASSERT_EQ(read_bitmap(file, p), FileStatus::kOk);
  EXPECT_EQ(p.width, 2);
  EXPECT_EQ(p.height, 2);
  EXPECT_EQ(p.bits_per_pixel, 24);
  EXPECT_EQ(p.image_mode, format::kImageModeColour);
  const std::vector<std::uint8_t> expected{0xab, 0xab, 0xb1, 0x8f, 0x8d, 0x90, 0, 0,
                                           0x97, 0x93, 0x9a, 0x7c, 0x67, 0x6d, 0, 0};
  EXPECT_EQ(p.pixels, expected);
}

TEST(BitmapRead, ConformanceGreyPicturesAreMode61WithIdentityTable) {
  for (const char* name : {"camera_9x5_g.bmp", "camera_1x64_g.bmp", "camera_256x256_g.bmp"}) {
    SCOPED_TRACE(name);
    const auto file = slurp(std::string(VARNIC_TEST_DATA) + "/conformance/pics/" + name);
    PictureBuffer p;
    ASSERT_EQ(read_bitmap(file, p), FileStatus::kOk);
    EXPECT_EQ(p.bits_per_pixel, 8);
    EXPECT_EQ(p.image_mode, format::kImageModeGrey);
    ASSERT_EQ(p.pixels.size(), p.geometry().picture_bytes);
    // The table on file is the identity ramp, so the pixels are the file's bytes.
    const std::uint32_t offset = file[10] | file[11] << 8 | file[12] << 16 | file[13] << 24;
    EXPECT_EQ(0, std::memcmp(p.pixels.data(), file.data() + offset, p.pixels.size()));
    for (int i = 0; i < 256; ++i) EXPECT_EQ(p.header.colour_table[4 * i + 1], i);
  }
}

TEST(BitmapRead, AcceptsBothLetterOrders) {
  BmpSpec request;
  request.width_ = 3;
  request.height_ = 2;
  request.rows_ = make_rows(3, 2, 3);
  for (const auto& [a, b] : {std::pair{'B', 'M'}, std::pair{'M', 'B'}}) {
    request.type0_ = a;
    request.type1_ = b;
    PictureBuffer p;
    ASSERT_EQ(read_bitmap(request.build(), p), FileStatus::kOk);
    EXPECT_EQ(p.pixels, buffer_of(request.rows_));
  }
}

TEST(BitmapRead, TopDownRowsGiveTheSamePictureAsBottomUp) {
  BmpSpec up;
  up.width_ = 5;  // 15 bytes per row: one padding byte
  up.height_ = 4;
  up.rows_ = make_rows(5, 4, 3);
  up.pad_byte_ = 0xEE;  // garbage padding must not reach the buffer
  BmpSpec down = up;
  down.height_ = -4;
  PictureBuffer a, b;
  ASSERT_EQ(read_bitmap(up.build(), a), FileStatus::kOk);
  ASSERT_EQ(read_bitmap(down.build(), b), FileStatus::kOk);
  EXPECT_EQ(a.pixels, buffer_of(up.rows_));
  EXPECT_EQ(b.pixels, a.pixels);
  EXPECT_EQ(b.height, 4);
  // The kept header describes the buffer: positive height, 40 bytes.
  EXPECT_EQ(b.header.info.height, 4);
  EXPECT_EQ(b.header.info.size, 40u);
}

TEST(BitmapRead, GreyTableInAnyOrderBecomesLevelsAndIdentityRamp) {
  BmpSpec request;
  request.width_ = 3;
  request.height_ = 2;
  request.bit_count_ = 8;
  request.table_ = grey_table_reversed();
  request.rows_ = {{0, 1, 200}, {255, 128, 7}};
  PictureBuffer p;
  ASSERT_EQ(read_bitmap(request.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeGrey);
  EXPECT_EQ(p.pixels, buffer_of({{255, 254, 55}, {0, 127, 248}}));
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(p.header.colour_table[4 * i], i);
    EXPECT_EQ(p.header.colour_table[4 * i + 2], i);
  }
}

TEST(BitmapRead, ColourPaletteIsMode622WithIndicesKept) {
  BmpSpec request;
  request.width_ = 2;
  request.height_ = 2;
  request.bit_count_ = 8;
  request.colours_used_ = 3;
  request.table_ = {10, 20, 30, 99, 0, 0, 0, 0, 255, 255, 255, 0};
  request.rows_ = {{0, 1}, {2, 0}};
  PictureBuffer p;
  ASSERT_EQ(read_bitmap(request.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModePalette);
  EXPECT_EQ(p.pixels, buffer_of(request.rows_));
  const std::vector<std::uint8_t> first(p.header.colour_table.begin(), p.header.colour_table.begin() + 12);
  // The reserved byte of each entry is 0 in a display header.
  EXPECT_EQ(first, (std::vector<std::uint8_t>{10, 20, 30, 0, 0, 0, 0, 0, 255, 255, 255, 0}));
  EXPECT_EQ(p.header.info.colours_used, 3u);
}

TEST(BitmapRead, ColourTableIsFoundAfterALongerInfoHeader) {
  // A V5 header is 124 bytes; the table must be read at 14 + 124, not at 54.
  BmpSpec request;
  request.header_size_ = 124;
  request.width_ = 2;
  request.height_ = 1;
  request.bit_count_ = 8;
  request.colours_used_ = 2;
  request.table_ = {1, 2, 3, 0, 4, 5, 6, 0};
  request.rows_ = {{1, 0}};
  PictureBuffer p;
  ASSERT_EQ(read_bitmap(request.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModePalette);
  EXPECT_EQ(p.header.colour_table[4], 4);
  EXPECT_EQ(p.header.colour_table[6], 6);
  EXPECT_EQ(p.header.info.size, 40u);
}

TEST(BitmapRead, EightBitWithoutTableGetsTheGreyRamp) {
  // No colours used and the pixels right after the header: no table on file.
  BmpSpec request;
  request.width_ = 4;
  request.height_ = 1;
  request.bit_count_ = 8;
  request.rows_ = {{9, 8, 250, 3}};
  PictureBuffer p = sentinel();
  ASSERT_EQ(read_bitmap(request.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeGrey);
  EXPECT_EQ(p.pixels, buffer_of(request.rows_));
  EXPECT_EQ(p.header.colour_table[4 * 250 + 1], 250);
}

TEST(BitmapRead, TwentyFourBitGapIsNotReadAsTable) {
  // The gap holds a table-like block that must be ignored for 24 bits.
  BmpSpec request;
  request.width_ = 1;
  request.height_ = 1;
  request.table_.assign(16, 0x77);
  request.rows_ = {{1, 2, 3}};
  PictureBuffer p;
  ASSERT_EQ(read_bitmap(request.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeColour);
  EXPECT_EQ(p.pixels, (std::vector<std::uint8_t>{1, 2, 3, 0}));
  // Nor does a declared table that runs past the end refuse a 24-bit file.
  request.colours_used_ = 256;
  request.table_.clear();
  ASSERT_EQ(read_bitmap(request.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.pixels, (std::vector<std::uint8_t>{1, 2, 3, 0}));
}

struct Refusal {
  const char* name;
  std::vector<std::uint8_t> file;
  FileStatus status;
};

std::vector<Refusal> bitmap_refusals() {
  BmpSpec good;
  good.width_ = 5;
  good.height_ = 3;
  good.rows_ = make_rows(5, 3, 3);
  std::vector<Refusal> r;
  auto with = [&](const char* name, auto change, FileStatus status) {
    BmpSpec s = good;
    change(s);
    r.push_back({name, s.build(), status});
  };
  with("type BX", [](BmpSpec& s) { s.type1_ = 'X'; }, FileStatus::kNotBitmap);
  with("core header", [](BmpSpec& s) { s.header_size_ = 12; }, FileStatus::kNotBitmap);
  with("16 bits", [](BmpSpec& s) { s.bit_count_ = 16; }, FileStatus::kBitmapDepth);
  with("32 bits", [](BmpSpec& s) { s.bit_count_ = 32; }, FileStatus::kBitmapDepth);
  with("1 bit", [](BmpSpec& s) { s.bit_count_ = 1; }, FileStatus::kBitmapDepth);
  with("run-length", [](BmpSpec& s) { s.compression_ = 1; }, FileStatus::kBitmapCompressed);
  with("bit fields", [](BmpSpec& s) { s.compression_ = 3; }, FileStatus::kBitmapCompressed);
  with("width 0", [](BmpSpec& s) { s.width_ = 0; }, FileStatus::kBitmapSize);
  with("negative width", [](BmpSpec& s) { s.width_ = -5; }, FileStatus::kBitmapSize);
  with("width 32768", [](BmpSpec& s) { s.width_ = 32768; }, FileStatus::kBitmapSize);
  with("height 0", [](BmpSpec& s) { s.height_ = 0; }, FileStatus::kBitmapSize);
  with("height 65539", [](BmpSpec& s) { s.height_ = 65539; }, FileStatus::kBitmapSize);
  with("height -32768", [](BmpSpec& s) { s.height_ = -32768; }, FileStatus::kBitmapSize);
  with("height INT32_MIN", [](BmpSpec& s) { s.height_ = INT32_MIN; }, FileStatus::kBitmapSize);
  with("257 colours", [](BmpSpec& s) { s.colours_used_ = 257; }, FileStatus::kBitmapColours);
  with("declared 32767 square", [](BmpSpec& s) { s.width_ = s.height_ = 32767; }, FileStatus::kPictureTooLarge);
  with("declared taller than data", [](BmpSpec& s) { s.height_ = 4; }, FileStatus::kBitmapTruncated);
  with("table past the end", [](BmpSpec& s) {
    s.bit_count_ = 8;
    s.colours_used_ = 256;
    s.rows_.clear();
  }, FileStatus::kBitmapTruncated);
  {
    auto f = good.build();
    f.pop_back();  // the last padding byte of the top row
    r.push_back({"one byte short", f, FileStatus::kBitmapTruncated});
    auto g = good.build();
    testing::put32(g, 10, static_cast<std::uint32_t>(g.size() + 1));
    r.push_back({"offset past the end", g, FileStatus::kBitmapTruncated});
    r.push_back({"header cut", std::vector<std::uint8_t>(f.begin(), f.begin() + 53), FileStatus::kBitmapTruncated});
    r.push_back({"one byte", {'B'}, FileStatus::kNotBitmap});
    r.push_back({"empty", {}, FileStatus::kNotBitmap});
  }
  return r;
}

TEST(BitmapRead, RefusalsNameTheFaultAndLeaveThePreviousPicture) {
  for (const Refusal& c : bitmap_refusals()) {
    SCOPED_TRACE(c.name);
    PictureBuffer p = sentinel();
    EXPECT_EQ(read_bitmap(c.file, p, ReadLimits{1u << 20}), c.status);
    const PictureBuffer s = sentinel();
    EXPECT_EQ(p.width, s.width);
    EXPECT_EQ(p.image_mode, s.image_mode);
    EXPECT_EQ(p.pixels, s.pixels);
    EXPECT_EQ(p.header.colour_table, s.header.colour_table);
  }
}

TEST(BitmapRead, PixelLimitIsCheckedBeforeTheData) {
  BmpSpec request;
  request.width_ = 11;
  request.height_ = 10;
  request.rows_ = make_rows(11, 10, 3);
  PictureBuffer p;
  EXPECT_EQ(read_bitmap(request.build(), p, ReadLimits{109}), FileStatus::kPictureTooLarge);
  EXPECT_EQ(read_bitmap(request.build(), p, ReadLimits{110}), FileStatus::kOk);
  // A forged size far beyond the data is refused by the limit, not read.
  request.width_ = 30000;
  request.height_ = 30000;
  EXPECT_EQ(read_bitmap(request.build(), p, ReadLimits{1u << 20}), FileStatus::kPictureTooLarge);
}

TEST(BitmapRead, FileWrapperReportsMissingFile) {
  PictureBuffer p = sentinel();
  EXPECT_EQ(read_bitmap_file("/nonexistent/dir/x.bmp", p), FileStatus::kCannotOpen);
  EXPECT_EQ(read_bitmap_file(std::string(VARNIC_TEST_DATA) + "/conformance/pics/astronaut_37x21.bmp", p),
            FileStatus::kOk);
  EXPECT_EQ(p.width, 37);
  EXPECT_EQ(p.height, 21);
  EXPECT_EQ(p.pixels.size(), 112u * 21u);  // 111 bytes per row + 1 padding
}

}  // namespace
}  // namespace varnic::imagefile
