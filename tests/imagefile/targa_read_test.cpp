// SPDX-License-Identifier: BSD-2-Clause
#include <gtest/gtest.h>

#include <array>

#include <vector>

#include "imagefile/imagefile.h"
#include "tests/imagefile/file_builders.h"

namespace varnic::imagefile {
namespace {

using testing::buffer_of;
using testing::make_rows;
using testing::TgaLayout;
using Bytes = std::vector<std::uint8_t>;

TgaLayout colour_spec(std::uint16_t w, std::uint16_t h) {
  TgaLayout s;
  s.width_ = w;
  s.height_ = h;
  s.rows_ = make_rows(w, h, 3);
  return s;
}

TgaLayout mapped(std::uint8_t entry_bits, std::uint16_t first, std::uint16_t length, Bytes map) {
  TgaLayout s;
  s.depth_ = 8;
  s.map_type_ = 1;
  s.map_entry_bits_ = entry_bits;
  s.map_first_ = first;
  s.map_length_ = length;
  s.map_ = std::move(map);
  s.width_ = s.height_ = 1;
  s.rows_ = {{0}};
  return s;
}

TEST(TargaRead, BottomUpTopDownAndGreyFiles) {
  TgaLayout up = colour_spec(3, 4);  // 9 bytes per row: 3 bytes padding in the buffer
  up.id_ = "an ID field to skip";
  TgaLayout down = up;
  down.top_down_ = true;
  for (const TgaLayout* s : {&up, &down}) {
    PictureBuffer p;
    ASSERT_EQ(read_targa(s->build(), p), FileStatus::kOk);
    EXPECT_EQ(p.image_mode, format::kImageModeColour);
    EXPECT_EQ(p.pixels, buffer_of(up.rows_));
  }
  TgaLayout grey;
  grey.image_type_ = 3;
  grey.depth_ = 8;
  grey.width_ = 5;
  grey.height_ = 2;
  grey.rows_ = {{0, 1, 2, 254, 255}, {9, 8, 7, 6, 5}};
  PictureBuffer p;
  ASSERT_EQ(read_targa(grey.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeGrey);
  EXPECT_EQ(p.pixels, buffer_of(grey.rows_));
  EXPECT_EQ(p.header.colour_table[4 * 200], 200);
}

TEST(TargaRead, ColourMapsBecomeAPaletteOrGreyLevels) {
  // Entries start at the first entry index; the map, not the type, decides grey or colour.
  TgaLayout s = mapped(24, 10, 2, {1, 2, 3, 40, 50, 60});
  s.image_type_ = 3;
  s.width_ = 2;
  s.height_ = 1;
  s.rows_ = {{10, 11}};
  PictureBuffer p;
  ASSERT_EQ(read_targa(s.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModePalette);
  EXPECT_EQ(p.pixels, buffer_of(s.rows_));
  const auto& t = p.header.colour_table;
  EXPECT_EQ(Bytes(t.begin() + 40, t.begin() + 48), (Bytes{1, 2, 3, 0, 40, 50, 60, 0}));
  EXPECT_EQ(t[4 * 9], 9);  // entries outside the map keep the ramp

  Bytes reversed;
  for (int i = 0; i < 256; ++i) reversed.insert(reversed.end(), 3, static_cast<std::uint8_t>(255 - i));
  TgaLayout grey = mapped(24, 0, 256, reversed);
  grey.width_ = 3;
  grey.height_ = 1;
  grey.rows_ = {{0, 100, 255}};
  ASSERT_EQ(read_targa(grey.build(), p), FileStatus::kOk);
  EXPECT_EQ(p.image_mode, format::kImageModeGrey);
  EXPECT_EQ(p.pixels, buffer_of({{255, 155, 0}}));
}

TEST(TargaRead, RefusalsNameTheFault) {
  struct Case {
    const char* name;
    Bytes file;
    FileStatus status;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, TgaLayout s, FileStatus status) { cases.push_back({name, s.build(), status}); };
  auto changed = [](auto change) {
    TgaLayout s = colour_spec(4, 3);
    change(s);
    return s;
  };
  for (std::uint8_t type : std::to_array<std::uint8_t>({0, 1, 9, 10, 11}))
    with("type", changed([=](TgaLayout& s) { s.image_type_ = type; }), FileStatus::kTargaType);
  for (std::uint8_t depth : std::to_array<std::uint8_t>({16, 32})) with("depth", changed([=](TgaLayout& s) { s.depth_ = depth; }), FileStatus::kTargaDepth);
  with("15-bit map", mapped(15, 0, 1, {0, 0}), FileStatus::kTargaColourMap);
  with("32-bit map", mapped(32, 0, 1, {0, 0, 0, 0}), FileStatus::kTargaColourMap);
  with("257 entries", mapped(24, 0, 257, Bytes(3 * 257, 1)), FileStatus::kTargaColourMap);
  with("first entry + length 257", mapped(24, 200, 57, Bytes(3 * 57, 1)), FileStatus::kTargaColourMap);
  TgaLayout cut_map = mapped(24, 0, 200, {});
  cut_map.rows_.clear();
  with("map cut short", cut_map, FileStatus::kTargaTruncated);
  for (std::uint16_t w : std::to_array<std::uint16_t>({0, 40000})) with("width", changed([=](TgaLayout& s) { s.width_ = w; }), FileStatus::kTargaSize);
  with("height 0", changed([](TgaLayout& s) { s.height_ = 0; }), FileStatus::kTargaSize);
  with("declared 30000 square", changed([](TgaLayout& s) { s.width_ = s.height_ = 30000; }), FileStatus::kPictureTooLarge);
  with("one row missing", changed([](TgaLayout& s) { s.rows_.pop_back(); }), FileStatus::kTargaTruncated);
  Bytes f = colour_spec(4, 3).build();
  f.pop_back();
  cases.push_back({"one byte short", f, FileStatus::kTargaTruncated});
  cases.push_back({"header cut", Bytes(f.begin(), f.begin() + 17), FileStatus::kTargaTruncated});
  TgaLayout id = colour_spec(1, 1);
  id.id_ = std::string(40, 'x');
  Bytes g = id.build();
  g.resize(18 + 30);
  cases.push_back({"ID cut", g, FileStatus::kTargaTruncated});

  // That a refusal leaves the caller's picture alone is the hostile-file sweep's to check.
  for (const Case& c : cases) {
    PictureBuffer p;
    EXPECT_EQ(read_targa(c.file, p, ReadLimits{1u << 20}), c.status) << c.name;
  }
}

}  // namespace
}  // namespace varnic::imagefile
