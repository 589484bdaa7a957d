#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "imagefile/imagefile.h"

namespace varnic::imagefile {
namespace {

namespace fs = std::filesystem;

std::uint32_t u32_at(const std::vector<std::uint8_t>& f, std::size_t at) {
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<std::uint32_t>(f[at + 3]) << 24;
}
std::uint32_t u16_at(const std::vector<std::uint8_t>& f, std::size_t at) { return f[at] | f[at + 1] << 8; }

// A picture with distinct pixel bytes and zero padding.
PictureBuffer make_picture(int width, int height, int bits, std::uint16_t mode, std::uint8_t seed = 3) {
  PictureBuffer p;
  p.width = width;
  p.height = height;
  p.bits_per_pixel = bits;
  p.image_mode = mode;
  const utils::RowGeometry g = p.geometry();
  p.pixels.assign(g.picture_bytes, 0);
  std::uint32_t x = seed;
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
    for (std::size_t i = 0; i < g.data_bytes; ++i) {
      x = x * 1664525u + 1013904223u;
      p.pixels[y * (g.stride) + i] = static_cast<std::uint8_t>(x >> 24);
    }
  }
  set_grey_colour_table(p.header);
  if (mode == format::kImageModePalette) {
    for (int i = 0; i < 256; ++i) {
      p.header.colour_table[4 * i] = static_cast<std::uint8_t>(i);
      p.header.colour_table[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
      p.header.colour_table[4 * i + 2] = static_cast<std::uint8_t>(i * 7);
    }
  }
  return p;
}

TEST(BitmapWrite, RowsFilledByTheCallerGiveTheSameFile) {
  for (const auto& [bits, mode] : {std::pair{24, format::kImageModeColour}, std::pair{8, format::kImageModeGrey}}) {
    for (const int width : {1, 5, 6, 7, 8}) {
      const PictureBuffer p = make_picture(width, 3, bits, mode);
      PictureBuffer shape = p;
      shape.pixels.clear();
      std::size_t area = 0;
      const auto f = encode_bitmap(shape, [&](std::span<std::uint8_t> rows) {
        area = rows.size();
        // The padding arrives zeroed: copy the rows only.
        const utils::RowGeometry g = p.geometry();
        for (std::size_t y = 0; y < 3; ++y) {
          const std::size_t at = y * (g.stride);
          std::copy_n(p.pixels.begin() + static_cast<std::ptrdiff_t>(at), g.data_bytes, rows.begin() + static_cast<std::ptrdiff_t>(at));
        }
      });
      EXPECT_EQ(area, p.geometry().picture_bytes) << bits << " bits, width " << width;
      EXPECT_EQ(f, encode_bitmap(p)) << bits << " bits, width " << width;
    }
  }
  PictureBuffer palette = make_picture(4, 2, 8, format::kImageModePalette);
  palette.pixels.clear();
  bool called = false;
  EXPECT_TRUE(encode_bitmap(palette, [&](std::span<std::uint8_t>) { called = true; }).empty());
  EXPECT_FALSE(called);
}

TEST(BitmapWrite, TwentyFourBitLayout) {
  const PictureBuffer p = make_picture(5, 2, 24, format::kImageModeColour);
  const auto f = encode_bitmap(p);
  ASSERT_EQ(f.size(), 86u);  // 54 + 2 rows of 15 bytes + 1 padding
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(u32_at(f, 2), 86u);
  EXPECT_EQ(u32_at(f, 10), 54u);
  EXPECT_EQ(u32_at(f, 14), 40u);
  EXPECT_EQ(u32_at(f, 18), 5u);
  EXPECT_EQ(u32_at(f, 22), 2u);
  EXPECT_EQ(u16_at(f, 26), 1u);
  EXPECT_EQ(u16_at(f, 28), 24u);
  EXPECT_EQ(u32_at(f, 30), 0u);
  EXPECT_EQ(u32_at(f, 34), 32u);
  EXPECT_EQ(u32_at(f, 46), 0u);
  EXPECT_TRUE(std::equal(p.pixels.begin(), p.pixels.end(), f.begin() + 54));
}

TEST(BitmapWrite, GreyCarriesFullTable) {
  const PictureBuffer p = make_picture(3, 2, 8, format::kImageModeGrey);
  const auto f = encode_bitmap(p);
  EXPECT_EQ(u32_at(f, 10), 1078u);
  EXPECT_EQ(f.size(), 1078u + 8u);
  EXPECT_EQ(u16_at(f, 28), 8u);
  EXPECT_EQ(u32_at(f, 46), 256u);
  EXPECT_EQ(u32_at(f, 50), 256u);
  EXPECT_EQ(f[54 + 4 * 77 + 1], 77);
}

TEST(BitmapWrite, PaletteTableLengthCoversEveryIndex) {
  PictureBuffer p = make_picture(4, 1, 8, format::kImageModePalette);
  p.pixels = {0, 3, 2, 1};
  p.header.info.colours_used = 0;  // written as a full table
  EXPECT_EQ(u32_at(encode_bitmap(p), 10), 1078u);
  p.header.info.colours_used = 4;  // as read: kept
  auto f = encode_bitmap(p);
  EXPECT_EQ(u32_at(f, 10), 54u + 16u);
  EXPECT_EQ(u32_at(f, 46), 4u);
  // An index beyond the stored count would point past the table on file.
  p.pixels = {0, 9, 2, 1};
  EXPECT_EQ(u32_at(encode_bitmap(p), 46), 256u);
}

TEST(TargaWrite, GreyAndColourLayouts) {
  const PictureBuffer grey = make_picture(3, 2, 8, format::kImageModeGrey);
  auto g = encode_targa(grey);
  ASSERT_EQ(g.size(), 18u + 6u);
  EXPECT_EQ(g[2], 3);
  EXPECT_EQ(g[16], 8);
  EXPECT_EQ(g[17], 0);
  // Bottom row first, padding dropped.
  EXPECT_EQ((std::vector<std::uint8_t>(g.begin() + 18, g.end())),
            (std::vector<std::uint8_t>{grey.pixels[0], grey.pixels[1], grey.pixels[2], grey.pixels[4],
                                       grey.pixels[5], grey.pixels[6]}));

  const PictureBuffer colour = make_picture(2, 2, 24, format::kImageModeColour);
  auto c = encode_targa(colour);
  ASSERT_EQ(c.size(), 18u + 12u);
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(c[2], 2);
  EXPECT_EQ(u16_at(c, 12), 2u);
  EXPECT_EQ(u16_at(c, 14), 2u);
  EXPECT_EQ(c[16], 24);
  EXPECT_TRUE(std::equal(colour.pixels.begin(), colour.pixels.begin() + 6, c.begin() + 18));
  EXPECT_TRUE(std::equal(colour.pixels.begin() + 8, colour.pixels.begin() + 14, c.begin() + 24));
}

TEST(TargaWrite, PalettePictureBecomesTrueColour) {
  const PictureBuffer p = make_picture(3, 2, 8, format::kImageModePalette);
  const auto f = encode_targa(p);
  EXPECT_EQ(f[2], 2);
  EXPECT_EQ(f[16], 24);
  PictureBuffer back;
  ASSERT_EQ(read_targa(f, back), FileStatus::kOk);
  EXPECT_EQ(back.image_mode, format::kImageModeColour);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t index = p.pixels[static_cast<std::size_t>(y * 4 + x)];
      const std::uint8_t* px = &back.pixels[static_cast<std::size_t>(y * 12 + 3 * x)];
      EXPECT_EQ(px[0], index);
      EXPECT_EQ(px[1], 255 - index);
      EXPECT_EQ(px[2], static_cast<std::uint8_t>(index * 7));
    }
  }
}

TEST(PictureRoundTrip, EveryRowPaddingBothDepthsBothFormats) {
  for (int width = 1; width <= 8; ++width) {
    for (std::uint16_t mode : {format::kImageModeColour, format::kImageModeGrey, format::kImageModePalette}) {
      SCOPED_TRACE(::testing::Message() << "width " << width << " mode " << mode);
      const PictureBuffer p = make_picture(width, 3, mode == format::kImageModeColour ? 24 : 8, mode, static_cast<std::uint8_t>(width));
      PictureBuffer b;
      ASSERT_EQ(read_bitmap(encode_bitmap(p), b), FileStatus::kOk);
      EXPECT_EQ(b.image_mode, mode);
      EXPECT_EQ(b.pixels, p.pixels);
      EXPECT_EQ(b.header.colour_table, p.header.colour_table);
      if (mode == format::kImageModePalette) continue;  // expanded to true colour, checked above
      PictureBuffer t;
      ASSERT_EQ(read_targa(encode_targa(p), t), FileStatus::kOk);
      EXPECT_EQ(t.image_mode, mode);
      EXPECT_EQ(t.pixels, p.pixels);
    }
  }
}

TEST(PictureRoundTrip, TopDownSourcesComeBackBottomUp) {
  // The same 3 × 2 picture stored top row first in both formats.
  const std::vector<std::uint8_t> top{1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::vector<std::uint8_t> bottom{11, 12, 13, 14, 15, 16, 17, 18, 19};
  std::vector<std::uint8_t> bmp(54, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  bmp[10] = 54;
  bmp[14] = 40;
  bmp[18] = 3;
  bmp[22] = 0xFE;  // height -2
  bmp[23] = bmp[24] = bmp[25] = 0xFF;
  bmp[26] = 1;
  bmp[28] = 24;
  for (const auto* row : {&top, &bottom}) {
    bmp.insert(bmp.end(), row->begin(), row->end());
    bmp.insert(bmp.end(), 3, 0);
  }
  std::vector<std::uint8_t> tga(18, 0);
  tga[2] = 2;
  tga[12] = 3;
  tga[14] = 2;
  tga[16] = 24;
  tga[17] = 0x20;
  tga.insert(tga.end(), top.begin(), top.end());
  tga.insert(tga.end(), bottom.begin(), bottom.end());

  std::vector<std::uint8_t> expected(bottom);
  expected.insert(expected.end(), 3, 0);
  expected.insert(expected.end(), top.begin(), top.end());
  expected.insert(expected.end(), 3, 0);
  PictureBuffer a, b;
  ASSERT_EQ(read_bitmap(bmp, a), FileStatus::kOk);
  ASSERT_EQ(read_targa(tga, b), FileStatus::kOk);
  for (const PictureBuffer* p : {&a, &b}) {
    EXPECT_EQ(p->pixels, expected);
    PictureBuffer again;
    ASSERT_EQ(read_bitmap(encode_bitmap(*p), again), FileStatus::kOk);
    EXPECT_EQ(again.pixels, expected);
    ASSERT_EQ(read_targa(encode_targa(*p), again), FileStatus::kOk);
    EXPECT_EQ(again.pixels, expected);
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

TEST_F(FileTest, SavedPicturesReadBack) {
  const PictureBuffer p = make_picture(7, 5, 24, format::kImageModeColour);
  const std::string bmp = (dir_ / "a.bmp").string();
  const std::string tga = (dir_ / "a.tga").string();
  ASSERT_EQ(save_bitmap_file(bmp, p), FileStatus::kOk);
  ASSERT_EQ(save_targa_file(tga, p), FileStatus::kOk);
  PictureBuffer b, t;
  ASSERT_EQ(read_bitmap_file(bmp, b), FileStatus::kOk);
  ASSERT_EQ(read_targa_file(tga, t), FileStatus::kOk);
  EXPECT_EQ(b.pixels, p.pixels);
  EXPECT_EQ(t.pixels, p.pixels);
  EXPECT_EQ(entries(), 2u);
}

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

TEST_F(FileTest, SymlinkDestinationWritesTheTargetBesideItself) {
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
}

TEST_F(FileTest, UncreatableDestinationsFail) {
  const std::vector<std::uint8_t> bytes{1};
  EXPECT_EQ(write_file_atomically((dir_ / "missing" / "x.tga").string(), bytes), FileStatus::kCannotOpen);
  fs::create_directory(dir_ / "sub");
  put(dir_ / "sub" / "keep", "k");
  EXPECT_EQ(write_file_atomically((dir_ / "sub").string(), bytes), FileStatus::kCannotOpen);
  EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
}

// A file-size limit makes the write fail part-way, as a full disk would.
TEST_F(FileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
  const fs::path dest = dir_ / "picture.bmp";
  put(dest, "the old file");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const std::vector<std::uint8_t> big(100000, 0xAB);
    const FileStatus s = write_file_atomically(dest.string(), big);
    ::_exit(s == FileStatus::kCannotWrite ? 0 : 10 + static_cast<int>(s));
  }
  int wstatus = 0;
  ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0) << "status in child: " << WEXITSTATUS(wstatus) - 10;
  const std::string old = "the old file";
  EXPECT_EQ(contents(dest), std::vector<std::uint8_t>(old.begin(), old.end()));
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FileTest, InconsistentPicturesAreNotWritten) {
  const fs::path dest = dir_ / "keep.bmp";
  put(dest, "old");
  std::vector<PictureBuffer> bad(5, make_picture(5, 3, 24, format::kImageModeColour));
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
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FileTest, ReadWholeFileRefusesDevicesAndOversizedFiles) {
  std::vector<std::uint8_t> out{1, 2};
  EXPECT_EQ(read_whole_file("/dev/zero", out, 100), FileStatus::kCannotOpen);
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
