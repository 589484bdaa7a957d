#include <gtest/gtest.h>

#include <vector>

#include "imagefile/imagefile.h"
#include "tests/imagefile/file_builders.h"

namespace varnic::imagefile {
namespace {

using testing::make_rows;
using testing::TgaSpec;

std::vector<std::uint8_t> buffer_of(const std::vector<std::vector<std::uint8_t>>& rows) {
  std::vector<std::uint8_t> out;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    out.insert(out.end(), it->begin(), it->end());
    while (out.size() % 4 != 0) out.push_back(0);
  }
  return out;
}

TgaSpec colour_spec(std::uint16_t w, std::uint16_t h) {
  TgaSpec s;
  s.width_ = w;
  s.height_ = h;
  s.rows_ = make_rows(w, h, 3);
  return s;
}

TEST(TargaRead, TrueColourBottomUpAndTopDownGiveTheSamePicture) {
  TgaSpec up = colour_spec(3, 4);  // 9 bytes per row: 3 bytes padding in the buffer
  up.id_ = "an ID field to skip";
  TgaSpec down = up;
  down.top_down_ = true;
  PictureBuffer a, b;
  ASSERT_EQ(read_targa(up.build(), a), FileStatus::kOk);
  ASSERT_EQ(read_targa(down.build(), b), FileStatus::kOk);
  EXPECT_EQ(a.image_mode, format::kImageModeColour);
  EXPECT_EQ(a.bits_per_pixel, 24);
  EXPECT_EQ(a.pixels, buffer_of(up.rows_));
  EXPECT_EQ(b.pixels, a.pixels);
}

TEST(TargaRead, GreyTypeGetsTheRampAndKeepsLevels) {
  TgaSpec s;
  s.image_type_ = 3;
  s.depth_ = 8;
  s.width_ = 5;
  s.height_ = 2;
  s.rows_ = {{0, 1, 2, 254, 255}, {9, 8, 7, 6, 5}};
  PictureBuffer p;
  ASSERT_EQ(read_targa(s.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeGrey);
  EXPECT_EQ(p.pixels, buffer_of(s.rows_));
  EXPECT_EQ(p.header.colour_table[4 * 200], 200);
}

TEST(TargaRead, ColourMapEntriesStartAtTheFirstEntryIndex) {
  TgaSpec s;
  s.image_type_ = 3;  // read as uncompressed, the map decides grey or colour
  s.depth_ = 8;
  s.map_type_ = 1;
  s.map_entry_bits_ = 24;
  s.map_first_ = 10;
  s.map_length_ = 2;
  s.map_ = {1, 2, 3, 40, 50, 60};
  s.width_ = 2;
  s.height_ = 1;
  s.rows_ = {{10, 11}};
  PictureBuffer p;
  ASSERT_EQ(read_targa(s.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModePalette);
  EXPECT_EQ(p.pixels, buffer_of(s.rows_));
  const auto& t = p.header.colour_table;
  EXPECT_EQ((std::vector<std::uint8_t>(t.begin() + 40, t.begin() + 48)),
            (std::vector<std::uint8_t>{1, 2, 3, 0, 40, 50, 60, 0}));
  EXPECT_EQ(t[4 * 9], 9);  // entries outside the map keep the ramp
}

TEST(TargaRead, GreyMapInReverseOrderBecomesLevels) {
  TgaSpec s;
  s.image_type_ = 2;
  s.depth_ = 8;
  s.map_type_ = 1;
  s.map_entry_bits_ = 24;
  s.map_length_ = 256;
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(255 - i);
    s.map_.insert(s.map_.end(), {v, v, v});
  }
  s.width_ = 3;
  s.height_ = 1;
  s.rows_ = {{0, 100, 255}};
  PictureBuffer p;
  ASSERT_EQ(read_targa(s.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeGrey);
  EXPECT_EQ(p.pixels, buffer_of({{255, 155, 0}}));
}

TEST(TargaRead, RefusalsNameTheFaultAndLeaveThePreviousPicture) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    FileStatus status;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, auto change, FileStatus status) {
    TgaSpec s = colour_spec(4, 3);
    change(s);
    cases.push_back({name, s.build(), status});
  };
  for (std::uint8_t type : {0, 1, 9, 10, 11}) {
    with("refused type", [type](TgaSpec& s) { s.image_type_ = type; }, FileStatus::kTargaType);
  }
  with("16 bits", [](TgaSpec& s) { s.depth_ = 16; }, FileStatus::kTargaDepth);
  with("32 bits", [](TgaSpec& s) { s.depth_ = 32; }, FileStatus::kTargaDepth);
  with("15-bit map", [](TgaSpec& s) {
    s.map_type_ = 1;
    s.map_entry_bits_ = 15;
    s.map_length_ = 1;
    s.map_ = {0, 0};
  }, FileStatus::kTargaColourMap);
  with("32-bit map", [](TgaSpec& s) {
    s.map_type_ = 1;
    s.map_entry_bits_ = 32;
    s.map_length_ = 1;
    s.map_ = {0, 0, 0, 0};
  }, FileStatus::kTargaColourMap);
  with("257 entries", [](TgaSpec& s) {
    s.map_type_ = 1;
    s.map_entry_bits_ = 24;
    s.map_length_ = 257;
    s.map_.assign(3 * 257, 1);
  }, FileStatus::kTargaColourMap);
  with("first entry + length 257", [](TgaSpec& s) {
    s.map_type_ = 1;
    s.map_entry_bits_ = 24;
    s.map_first_ = 200;
    s.map_length_ = 57;
    s.map_.assign(3 * 57, 1);
  }, FileStatus::kTargaColourMap);
  with("map cut short", [](TgaSpec& s) {
    s.map_type_ = 1;
    s.map_entry_bits_ = 24;
    s.map_length_ = 200;
    s.map_.clear();
    s.rows_.clear();
  }, FileStatus::kTargaTruncated);
  with("width 0", [](TgaSpec& s) { s.width_ = 0; }, FileStatus::kTargaSize);
  with("height 0", [](TgaSpec& s) { s.height_ = 0; }, FileStatus::kTargaSize);
  with("width 40000", [](TgaSpec& s) { s.width_ = 40000; }, FileStatus::kTargaSize);
  with("declared 30000 square", [](TgaSpec& s) { s.width_ = s.height_ = 30000; }, FileStatus::kPictureTooLarge);
  with("one row missing", [](TgaSpec& s) { s.rows_.pop_back(); }, FileStatus::kTargaTruncated);
  {
    auto f = colour_spec(4, 3).build();
    f.pop_back();
    cases.push_back({"one byte short", f, FileStatus::kTargaTruncated});
    cases.push_back({"header cut", std::vector<std::uint8_t>(f.begin(), f.begin() + 17), FileStatus::kTargaTruncated});
    TgaSpec s = colour_spec(1, 1);
    s.id_ = std::string(40, 'x');
    auto g = s.build();
    g.resize(18 + 30);
    cases.push_back({"ID cut", g, FileStatus::kTargaTruncated});
    cases.push_back({"two bytes", {0, 0}, FileStatus::kTargaTruncated});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PictureBuffer p;
    p.width = 1;
    p.height = 1;
    p.pixels = {7, 7, 7, 0};
    EXPECT_EQ(read_targa(c.file, p, ReadLimits{1u << 20}), c.status);
    EXPECT_EQ(p.width, 1);
    EXPECT_EQ(p.pixels, (std::vector<std::uint8_t>{7, 7, 7, 0}));
  }
}

}  // namespace
}  // namespace varnic::imagefile
