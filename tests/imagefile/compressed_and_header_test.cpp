// SPDX-License-Identifier: BSD-2-Clause
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "imagefile/imagefile.h"

namespace varnic::imagefile {
namespace {

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

TEST(CompressedLoad, ChecksTheVersionKeepsTheFileAndAddsSpareZeros) {
  const auto file = bytes_of("QVT2.5aZ\x01\x02\x03");
  CompressedFile c;
  ASSERT_EQ(load_compressed(file, c), FileStatus::kOk);
  EXPECT_EQ(c.file_size, file.size());
  std::vector<std::uint8_t> expected = file;
  expected.resize(file.size() + format::kSpareBytes, 0);
  EXPECT_EQ(c.bytes, expected);

  for (const auto& [text, status] : {std::pair{"QVT2.2aZ", FileStatus::kVersionTooLow},
                                      std::pair{"QVT2.6aZ", FileStatus::kVersionTooHigh},
                                      std::pair{"BM......", FileStatus::kNotCompressed},
                                      std::pair{"QVT2.5a", FileStatus::kNotCompressed}}) {
    EXPECT_EQ(load_compressed(bytes_of(text), c), status) << text;
    EXPECT_EQ(c.bytes, expected) << text;
  }
  EXPECT_EQ(load_compressed_file(std::string(VARNIC_TEST_DATA) + "/conformance/pics/astronaut_2x2.bmp", c),
            FileStatus::kNotCompressed);
}

TEST(FileMessages, PictureFaultsCaptionThePathAndEveryFaultHasItsOwnText) {
  // Open and version faults: path as text, message as caption; picture faults the other way round.
  EXPECT_EQ(file_message(FileStatus::kVersionTooLow, "/p/a.cod").text, "/p/a.cod");
  EXPECT_EQ(file_message(FileStatus::kCannotWrite, "/p/a.cod").text, "/p/a.cod");
  for (FileStatus s : {FileStatus::kBitmapCompressed, FileStatus::kTargaTruncated, FileStatus::kPictureTooLarge})
    EXPECT_EQ(file_message(s, "/p/c.bmp").caption, "/p/c.bmp");
  std::set<std::string> seen;
  for (int s = 1; s <= static_cast<int>(FileStatus::kCannotEncode); ++s) {
    const std::string text = status_message(static_cast<FileStatus>(s));
    EXPECT_FALSE(text.empty()) << s;
    EXPECT_TRUE(seen.insert(text).second) << text;
  }
}

TEST(FileTitle, LongNamesLoseTheirMiddleOnCharacterBoundaries) {
  EXPECT_EQ(file_title("/home/u/pics/lena.bmp"), "lena.bmp");
  const std::string exact(79, 'a');
  EXPECT_EQ(file_title("/d/" + exact), exact);

  const std::string name = std::string(50, 'h') + std::string(50, 't') + ".bmp";
  const std::string t = file_title("/d/" + name);
  EXPECT_EQ(t, std::string(38, 'h') + "..." + name.substr(name.size() - 38));

  std::string wide;
  for (int i = 0; i < 60; ++i) wide += "\xC3\xA9";  // two bytes each
  const std::string w = file_title(wide);
  EXPECT_LE(w.size(), 79u);
  const std::size_t dots = w.find("...");
  ASSERT_NE(dots, std::string::npos);
  EXPECT_EQ(dots % 2, 0u);
  EXPECT_EQ((w.size() - dots - 3) % 2, 0u);
  EXPECT_EQ(static_cast<unsigned char>(w[dots + 3]), 0xC3);
}

TEST(DisplayHeader, FillFollowsModeAndScreenAndSerialises) {
  DisplayHeader h;
  h.info.bit_count = 8;
  h.info.colours_used = 17;
  h.info.x_pels_per_metre = 2835;
  fill_bitmap_header(format::kImageModePalette, false, 9, 4, 48, h);  // keeps what the reader set
  EXPECT_EQ(h.info.colours_used, 17u);
  EXPECT_EQ(h.info.x_pels_per_metre, 0);
  fill_bitmap_header(format::kImageModeColour, true, 9, 4, 112, h);  // 8-bit screen draws the index buffer
  EXPECT_EQ(h.info.bit_count, 8);
  EXPECT_EQ(h.info.colours_important, 256u);
  fill_bitmap_header(format::kImageModeGrey, false, 9, 4, 48, h);
  EXPECT_EQ(h.info.colours_used, 256u);

  fill_bitmap_header(format::kImageModeColour, false, 300, 2, 1800, h);
  EXPECT_EQ(h.info.colours_used, 0u);
  h.colour_table.fill(0x11);
  set_grey_colour_table(h);
  EXPECT_TRUE(is_grey_palette(h));
  const auto b = serialize_display_header(h);
  ASSERT_EQ(b.size(), 1064u);
  EXPECT_EQ((std::vector<int>{b[0], b[4] | b[5] << 8, b[8], b[12], b[14], b[20] | b[21] << 8}),
            (std::vector<int>{40, 300, 2, 1, 24, 1800}));
  EXPECT_EQ((std::vector<int>{b[40 + 800], b[40 + 802], b[40 + 803]}), (std::vector<int>{200, 200, 0}));
  h.colour_table[4 * 255 + 1] = 254;
  EXPECT_FALSE(is_grey_palette(h));
}

}  // namespace
}  // namespace varnic::imagefile
