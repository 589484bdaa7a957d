#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imagefile/imagefile.h"

namespace varnic::imagefile {
namespace {

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

TEST(CompressedLoad, VersionRefusalsKeepTheirFileMessages) {
  CompressedFile c;
  EXPECT_EQ(load_compressed(bytes_of("QVT2.2aZ"), c), FileStatus::kVersionTooLow);
  EXPECT_EQ(load_compressed(bytes_of("QVT2.6aZ"), c), FileStatus::kVersionTooHigh);
  EXPECT_EQ(load_compressed(bytes_of("BM......"), c), FileStatus::kNotCompressed);
  EXPECT_EQ(load_compressed(bytes_of("QVT2.5a"), c), FileStatus::kNotCompressed);
}

TEST(CompressedLoad, KeepsTheFileAndAddsSpareZeros) {
  const auto file = bytes_of("QVT2.5aZ\x01\x02\x03");
  CompressedFile c;
  ASSERT_EQ(load_compressed(file, c), FileStatus::kOk);
  EXPECT_EQ(c.file_size, file.size());
  ASSERT_EQ(c.bytes.size(), file.size() + format::kSpareBytes);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), c.bytes.begin()));
  for (std::size_t i = file.size(); i < c.bytes.size(); ++i) EXPECT_EQ(c.bytes[i], 0);

  CompressedFile untouched = c;
  EXPECT_EQ(load_compressed(bytes_of("QVT2.7aZ"), c), FileStatus::kVersionTooHigh);
  EXPECT_EQ(c.bytes, untouched.bytes);
}

TEST(CompressedLoad, ConformanceFilesLoadWhole) {
  const std::string dir = std::string(VARNIC_TEST_DATA) + "/conformance/cod/";
  for (const char* name : {"astronaut_q50.cod", "astronaut_comment_v23.cod", "astronaut_comment_v24.cod"}) {
    CompressedFile c;
    ASSERT_EQ(load_compressed_file(dir + name, c), FileStatus::kOk) << name;
    std::vector<std::uint8_t> raw;
    ASSERT_EQ(read_whole_file(dir + name, raw, 1u << 24), FileStatus::kOk);
    EXPECT_EQ(c.file_size, raw.size());
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), c.bytes.begin()));
  }
  CompressedFile c;
  EXPECT_EQ(load_compressed_file(std::string(VARNIC_TEST_DATA) + "/conformance/pics/astronaut_2x2.bmp", c),
            FileStatus::kNotCompressed);
}

TEST(FileMessages, LayoutFollowsTheFileKind) {
  // Open and version faults: path as text, message as caption.
  FileMessage m = file_message(FileStatus::kVersionTooLow, "/p/a.cod");
  EXPECT_EQ(m.text, "/p/a.cod");
  EXPECT_EQ(m.caption, "Incompatible Version(too low)");
  m = file_message(FileStatus::kCannotOpen, "/p/a.cod");
  EXPECT_EQ(m.caption, "Cannot Open File");
  m = file_message(FileStatus::kCannotWrite, "/p/b.bmp");
  EXPECT_EQ(m.text, "/p/b.bmp");
  EXPECT_EQ(m.caption, "Cannot Write File");
  // PictureBuffer faults: message as text, path as caption.
  m = file_message(FileStatus::kBitmapCompressed, "/p/c.bmp");
  EXPECT_EQ(m.text, "VARNIC does not support compressed format of bitmap");
  EXPECT_EQ(m.caption, "/p/c.bmp");
  m = file_message(FileStatus::kTargaType, "/p/d.tga");
  EXPECT_EQ(m.text, "The type of Targa file is not supported");
  m = file_message(FileStatus::kTargaTruncated, "/p/d.tga");
  EXPECT_EQ(m.caption, "/p/d.tga");

  EXPECT_STREQ(status_message(FileStatus::kNotCompressed), "It is not a compressed file");
  EXPECT_STREQ(status_message(FileStatus::kVersionTooHigh), "Incompatible Version(too high)");
  EXPECT_STREQ(status_message(FileStatus::kNotBitmap), "The file is not a Bitmap file");
  EXPECT_STREQ(status_message(FileStatus::kBitmapDepth), "The file is not in a 24 bit or 8 bit mode");
  // Every fault has its own text.
  std::vector<std::string> seen;
  for (int s = 1; s <= static_cast<int>(FileStatus::kCannotWrite); ++s) {
    const std::string text = status_message(static_cast<FileStatus>(s));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), text), 0) << text;
    seen.push_back(text);
  }
}

TEST(FileTitle, ShortNamesStayAndLongOnesLoseTheirMiddle) {
  EXPECT_EQ(file_title("/home/u/pics/lena.bmp"), "lena.bmp");
  EXPECT_EQ(file_title("plain.tga"), "plain.tga");
  const std::string exact(79, 'a');
  EXPECT_EQ(file_title("/d/" + exact), exact);

  const std::string name = std::string(50, 'h') + std::string(50, 't') + ".bmp";
  const std::string t = file_title("/d/" + name);
  EXPECT_EQ(t.size(), 79u);
  EXPECT_EQ(t.substr(0, 38), std::string(38, 'h'));
  EXPECT_NE(t.find("..."), std::string::npos);
  EXPECT_EQ(t.substr(t.size() - 4), ".bmp");
  EXPECT_EQ(t.substr(41), name.substr(name.size() - 38));
}

TEST(FileTitle, MultiByteCharactersAreNotSplit) {
  std::string name;
  for (int i = 0; i < 60; ++i) name += "\xC3\xA9";  // 'é', two bytes each
  const std::string t = file_title(name);
  EXPECT_LE(t.size(), 79u);
  const std::size_t dots = t.find("...");
  ASSERT_NE(dots, std::string::npos);
  // Both halves consist of whole two-byte characters.
  EXPECT_EQ(dots % 2, 0u);
  EXPECT_EQ((t.size() - dots - 3) % 2, 0u);
  EXPECT_EQ(static_cast<unsigned char>(t[dots + 3]), 0xC3);
}

TEST(DisplayHeader, FillFollowsModeAndScreen) {
  DisplayHeader h;
  h.info.bit_count = 8;
  h.info.colours_used = 17;
  h.info.x_pels_per_metre = 2835;

  fill_bitmap_header(format::kImageModePalette, false, 9, 4, 48, h);  // keeps what the reader set
  EXPECT_EQ(h.info.bit_count, 8);
  EXPECT_EQ(h.info.colours_used, 17u);
  EXPECT_EQ(h.info.width, 9);
  EXPECT_EQ(h.info.height, 4);
  EXPECT_EQ(h.info.x_pels_per_metre, 0);

  fill_bitmap_header(format::kImageModeColour, false, 9, 4, 112, h);
  EXPECT_EQ(h.info.bit_count, 24);
  EXPECT_EQ(h.info.colours_used, 0u);
  EXPECT_EQ(h.info.image_size, 112u);

  fill_bitmap_header(format::kImageModeColour, true, 9, 4, 112, h);  // 8-bit screen draws the index buffer
  EXPECT_EQ(h.info.bit_count, 8);
  EXPECT_EQ(h.info.colours_used, 256u);
  EXPECT_EQ(h.info.colours_important, 256u);

  fill_bitmap_header(format::kImageModeGrey, false, 9, 4, 48, h);
  EXPECT_EQ(h.info.bit_count, 8);
  EXPECT_EQ(h.info.colours_used, 256u);
}

TEST(DisplayHeader, SerialisedLayout) {
  DisplayHeader h;
  fill_bitmap_header(format::kImageModeColour, false, 300, 2, 1800, h);
  h.colour_table.fill(0x11);
  set_grey_colour_table(h);
  EXPECT_TRUE(is_grey_palette(h));
  const auto b = serialize_display_header(h);
  ASSERT_EQ(b.size(), 1064u);
  EXPECT_EQ(b[0], 40);
  EXPECT_EQ(b[4] | b[5] << 8, 300);
  EXPECT_EQ(b[8], 2);
  EXPECT_EQ(b[12], 1);   // planes
  EXPECT_EQ(b[14], 24);  // bit count
  EXPECT_EQ(b[20] | b[21] << 8, 1800);
  // Entry i = (i, i, i, 0) after the 40-byte header.
  EXPECT_EQ(b[40 + 4 * 200 + 0], 200);
  EXPECT_EQ(b[40 + 4 * 200 + 2], 200);
  EXPECT_EQ(b[40 + 4 * 200 + 3], 0);
  h.colour_table[4 * 255 + 1] = 254;
  EXPECT_FALSE(is_grey_palette(h));
}

}  // namespace
}  // namespace varnic::imagefile
