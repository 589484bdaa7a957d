// SPDX-License-Identifier: BSD-2-Clause
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/sample_pictures.h"
#include "imagefile/imagefile.h"
#include "imagefile/registry.h"

namespace varnic::imagefile {
namespace {

namespace fs = std::filesystem;

std::uint32_t u32_at(const std::vector<std::uint8_t>& f, std::size_t at) {
  return std::uint32_t{f[at]} | std::uint32_t{f[at + 1]} << 8 | std::uint32_t{f[at + 2]} << 16 | std::uint32_t{f[at + 3]} << 24;
}
std::uint32_t u16_at(const std::vector<std::uint8_t>& f, std::size_t at) {
  return std::uint32_t{f[at]} | std::uint32_t{f[at + 1]} << 8;
}

// Distinct pixel bytes, zero padding; a palette of distinct colours (i, 255 - i, 7i).
PictureBuffer make_picture(int width, int height, std::uint16_t mode) { return fuzz::make_file_picture(width, height, mode); }

TEST(BitmapWrite, RowsWrittenOneByOneGiveTheSameFiles) {
  for (const std::uint16_t mode : {format::kImageModeColour, format::kImageModeGrey}) {
    for (const int width : {1, 5, 6, 7, 8}) {
      const PictureBuffer p = make_picture(width, 3, mode);
      std::vector<std::uint8_t> bmp, tga;
      ASSERT_EQ(write_picture(rows_of(p), FileKind::kBmp, {}, bmp), FileStatus::kOk);
      ASSERT_EQ(write_picture(rows_of(p), FileKind::kTga, {}, tga), FileStatus::kOk);
      EXPECT_EQ(bmp, encode_bitmap(p)) << mode << " mode, width " << width;
      EXPECT_EQ(tga, encode_targa(p)) << mode << " mode, width " << width;
    }
  }
}

// Field by field, so that a writer and a reader wrong in the same way cannot agree.
TEST(BitmapWrite, HeaderFieldsAndTableLengths) {
  const PictureBuffer colour = make_picture(5, 2, format::kImageModeColour);
  const auto f = encode_bitmap(colour);
  ASSERT_EQ(f.size(), 86u);  // 54 + 2 rows of 15 bytes + 1 padding
  EXPECT_EQ((std::vector<std::uint32_t>{f[0], f[1], u32_at(f, 2), u32_at(f, 10), u32_at(f, 14), u32_at(f, 18),
                                        u32_at(f, 22), u16_at(f, 26), u16_at(f, 28), u32_at(f, 30), u32_at(f, 34),
                                        u32_at(f, 46)}),
            (std::vector<std::uint32_t>{'B', 'M', 86, 54, 40, 5, 2, 1, 24, 0, 32, 0}));
  EXPECT_TRUE(std::equal(colour.pixels.begin(), colour.pixels.end(), f.begin() + 54));

  const auto g = encode_bitmap(make_picture(3, 2, format::kImageModeGrey));
  EXPECT_EQ((std::vector<std::uint32_t>{u32_at(g, 10), static_cast<std::uint32_t>(g.size()), u16_at(g, 28),
                                        u32_at(g, 46), u32_at(g, 50), g[54 + 4 * 77 + 1]}),
            (std::vector<std::uint32_t>{1078, 1086, 8, 256, 256, 77}));

  PictureBuffer p = make_picture(4, 1, format::kImageModePalette);
  p.pixels = {0, 3, 2, 1};
  p.header.info.colours_used = 0;  // written as a full table
  EXPECT_EQ(u32_at(encode_bitmap(p), 10), 1078u);
  p.header.info.colours_used = 4;  // as read: kept
  EXPECT_EQ(u32_at(encode_bitmap(p), 10), 54u + 16u);
  EXPECT_EQ(u32_at(encode_bitmap(p), 46), 4u);
  // An index beyond the stored count would point past the table on file.
  p.pixels = {0, 9, 2, 1};
  EXPECT_EQ(u32_at(encode_bitmap(p), 46), 256u);
}

TEST(TargaWrite, HeaderFieldsRowsAndPaletteExpansion) {
  const PictureBuffer grey = make_picture(3, 2, format::kImageModeGrey);
  const auto g = encode_targa(grey);
  ASSERT_EQ(g.size(), 18u + 6u);
  EXPECT_EQ((std::vector<int>{g[2], g[16], g[17]}), (std::vector<int>{3, 8, 0}));
  // Bottom row first, padding dropped.
  EXPECT_EQ(std::vector<std::uint8_t>(g.begin() + 18, g.end()),
            (std::vector<std::uint8_t>{grey.pixels[0], grey.pixels[1], grey.pixels[2], grey.pixels[4],
                                       grey.pixels[5], grey.pixels[6]}));
  const auto c = encode_targa(make_picture(2, 3, format::kImageModeColour));
  ASSERT_EQ(c.size(), 18u + 18u);
  EXPECT_EQ((std::vector<std::uint32_t>{c[1], c[2], u16_at(c, 12), u16_at(c, 14), c[16]}),
            (std::vector<std::uint32_t>{0, 2, 2, 3, 24}));

  const PictureBuffer p = make_picture(3, 2, format::kImageModePalette);
  PictureBuffer back;
  ASSERT_EQ(read_targa(encode_targa(p), back), FileStatus::kOk);
  EXPECT_EQ(back.image_mode, format::kImageModeColour);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t index = p.pixels[static_cast<std::size_t>(y * 4 + x)];
      const std::uint8_t* px = &back.pixels[static_cast<std::size_t>(y * 12 + 3 * x)];
      EXPECT_EQ((std::vector<int>{px[0], px[1], px[2]}),
                (std::vector<int>{index, 255 - index, static_cast<std::uint8_t>(index * 7)}));
    }
  }
}

// Grey and colour round trips are the registry's; a palette keeps its table through a bitmap.
TEST(PictureRoundTrip, PaletteBitmapsKeepIndicesAndTable) {
  for (int width = 1; width <= 4; ++width) {
    const PictureBuffer p = make_picture(width, 3, format::kImageModePalette);
    PictureBuffer b;
    ASSERT_EQ(read_bitmap(encode_bitmap(p), b), FileStatus::kOk);
    EXPECT_EQ(b.image_mode, format::kImageModePalette);
    EXPECT_EQ(b.pixels, p.pixels) << width;
    EXPECT_EQ(b.header.colour_table, p.header.colour_table);
  }
}

// The files on POSIX systems; file_io_win32_test.cpp holds Windows's.
#if !defined(_WIN32)
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/varnic-imagefile-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<std::uint8_t> contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
};

TEST_F(FileTest, NewFileFollowsUmaskAndOverwriteKeepsPermissions) {
  const mode_t old_mask = ::umask(022);
  const fs::path dest = dir_ / "out.cod";
  const std::vector<std::uint8_t> first{'Q', 'V', 'T', '2', '.', '5', 'a', 'Z', 1, 2, 3};
  ASSERT_EQ(save_compressed_file(dest.string(), first), FileStatus::kOk);
  ::umask(old_mask);
  struct stat st {};
  ASSERT_EQ(::stat(dest.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(contents(dest), first);

  ASSERT_EQ(::chmod(dest.c_str(), 0604), 0);
  const std::vector<std::uint8_t> second{9, 8, 7};
  ASSERT_EQ(write_file_atomically(dest.string(), second), FileStatus::kOk);
  ASSERT_EQ(::stat(dest.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(contents(dest), second);
  EXPECT_EQ(entries(), 1u);  // no temporary file left behind
}

TEST_F(FileTest, SymlinkDestinationWritesItsTargetAndUncreatableOnesFail) {
  fs::create_directory(dir_ / "real");
  fs::create_directory(dir_ / "links");
  put(dir_ / "real" / "pic.bmp", "old");
  fs::create_symlink("../real/pic.bmp", dir_ / "links" / "pic.bmp");
  const std::vector<std::uint8_t> bytes{'n', 'e', 'w'};
  ASSERT_EQ(write_file_atomically((dir_ / "links" / "pic.bmp").string(), bytes), FileStatus::kOk);
  EXPECT_TRUE(fs::is_symlink(dir_ / "links" / "pic.bmp"));
  EXPECT_EQ(contents(dir_ / "real" / "pic.bmp"), bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "links"), fs::directory_iterator()), 1);

  // Destinations that cannot be made.
  EXPECT_EQ(write_file_atomically((dir_ / "missing" / "x.tga").string(), bytes), FileStatus::kCannotOpen);
  fs::create_directory(dir_ / "sub");
  put(dir_ / "sub" / "keep", "k");
  EXPECT_EQ(write_file_atomically((dir_ / "sub").string(), bytes), FileStatus::kCannotOpen);
  EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
}

TEST_F(FileTest, GoodPicturesAreSavedAndInconsistentOnesAreNotWritten) {
  const PictureBuffer good = make_picture(7, 5, format::kImageModeColour);
  PictureBuffer back;
  ASSERT_EQ(save_bitmap_file((dir_ / "a.bmp").string(), good), FileStatus::kOk);
  ASSERT_EQ(read_bitmap_file((dir_ / "a.bmp").string(), back), FileStatus::kOk);
  EXPECT_EQ(back.pixels, good.pixels);
  ASSERT_EQ(save_targa_file((dir_ / "a.tga").string(), good), FileStatus::kOk);
  ASSERT_EQ(read_targa_file((dir_ / "a.tga").string(), back), FileStatus::kOk);
  EXPECT_EQ(back.pixels, good.pixels);

  const fs::path dest = dir_ / "keep.bmp";
  put(dest, "old");
  std::vector<PictureBuffer> bad(5, good);
  bad[0].pixels.resize(bad[0].pixels.size() - 1);  // buffer shorter than the rows
  bad[1].width = 0;
  bad[2].height = -3;
  bad[3].bits_per_pixel = 8;  // colour mode with an 8-bit depth
  bad[4].image_mode = 63;
  for (const PictureBuffer& p : bad) {
    EXPECT_TRUE(encode_bitmap(p).empty());
    EXPECT_TRUE(encode_targa(p).empty());
    EXPECT_EQ(save_bitmap_file(dest.string(), p), FileStatus::kCannotWrite);
    EXPECT_EQ(save_targa_file(dest.string(), p), FileStatus::kCannotWrite);
  }
  EXPECT_EQ(contents(dest), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(entries(), 3u);
}

TEST_F(FileTest, ReadWholeFileRefusesDevicesAndOversizedFiles) {
  std::vector<std::uint8_t> out{1, 2};
  EXPECT_EQ(read_whole_file("/dev/zero", out, 100), FileStatus::kCannotOpen);
  EXPECT_EQ(read_whole_file((dir_ / "none").string(), out, 100), FileStatus::kCannotOpen);
  EXPECT_EQ(read_whole_file(dir_.string(), out, 100), FileStatus::kCannotOpen);
  put(dir_ / "f", "0123456789");
  EXPECT_EQ(read_whole_file((dir_ / "f").string(), out, 9), FileStatus::kFileTooLarge);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(read_whole_file((dir_ / "f").string(), out, 10), FileStatus::kOk);
  EXPECT_EQ(out.size(), 10u);

  // PictureBuffer files beyond anything the pixel limit allows are not even read.
  std::ofstream(dir_ / "big.bmp", std::ios::binary) << std::string(3u << 20, 'B');
  PictureBuffer p;
  EXPECT_EQ(read_bitmap_file((dir_ / "big.bmp").string(), p, ReadLimits{4}), FileStatus::kFileTooLarge);
  EXPECT_EQ(read_bitmap_file((dir_ / "big.bmp").string(), p, ReadLimits{1u << 20}), FileStatus::kNotBitmap);
}
#endif

}  // namespace
}  // namespace varnic::imagefile
