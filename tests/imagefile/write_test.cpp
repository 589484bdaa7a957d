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
Picture make_picture(int width, int height, int bits, std::uint16_t mode, std::uint8_t seed = 3) {
  Picture p;
  p.width_ = width;
  p.height_ = height;
  p.bits_per_pixel_ = bits;
  p.image_mode_ = mode;
  const RowGeometry g = p.geometry();
  p.pixels_.assign(g.picture_bytes_, 0);
  std::uint32_t x = seed;
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
    for (std::size_t i = 0; i < g.row_bytes_; ++i) {
      x = x * 1664525u + 1013904223u;
      p.pixels_[y * (g.row_bytes_ + g.row_padding_) + i] = static_cast<std::uint8_t>(x >> 24);
    }
  }
  set_grey_colour_table(p.header_);
  if (mode == kModePalette) {
    for (int i = 0; i < 256; ++i) {
      p.header_.colour_table_[4 * i] = static_cast<std::uint8_t>(i);
      p.header_.colour_table_[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
      p.header_.colour_table_[4 * i + 2] = static_cast<std::uint8_t>(i * 7);
    }
  }
  return p;
}

TEST(BitmapWrite, RowsFilledByTheCallerGiveTheSameFile) {
  for (const auto& [bits, mode] : {std::pair{24, kModeColour}, std::pair{8, kModeGrey}}) {
    for (const int width : {1, 5, 6, 7, 8}) {
      const Picture p = make_picture(width, 3, bits, mode);
      Picture shape = p;
      shape.pixels_.clear();
      std::size_t area = 0;
      const auto f = encode_bitmap(shape, [&](std::span<std::uint8_t> rows) {
        area = rows.size();
        // The padding arrives zeroed: copy the rows only.
        const RowGeometry g = p.geometry();
        for (std::size_t y = 0; y < 3; ++y) {
          const std::size_t at = y * (g.row_bytes_ + g.row_padding_);
          std::copy_n(p.pixels_.begin() + static_cast<std::ptrdiff_t>(at), g.row_bytes_, rows.begin() + static_cast<std::ptrdiff_t>(at));
        }
      });
      EXPECT_EQ(area, p.geometry().picture_bytes_) << bits << " bits, width " << width;
      EXPECT_EQ(f, encode_bitmap(p)) << bits << " bits, width " << width;
    }
  }
  Picture palette = make_picture(4, 2, 8, kModePalette);
  palette.pixels_.clear();
  bool called = false;
  EXPECT_TRUE(encode_bitmap(palette, [&](std::span<std::uint8_t>) { called = true; }).empty());
  EXPECT_FALSE(called);
}

TEST(BitmapWrite, TwentyFourBitLayout) {
  const Picture p = make_picture(5, 2, 24, kModeColour);
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
  EXPECT_TRUE(std::equal(p.pixels_.begin(), p.pixels_.end(), f.begin() + 54));
}

TEST(BitmapWrite, GreyCarriesFullTable) {
  const Picture p = make_picture(3, 2, 8, kModeGrey);
  const auto f = encode_bitmap(p);
  EXPECT_EQ(u32_at(f, 10), 1078u);
  EXPECT_EQ(f.size(), 1078u + 8u);
  EXPECT_EQ(u16_at(f, 28), 8u);
  EXPECT_EQ(u32_at(f, 46), 256u);
  EXPECT_EQ(u32_at(f, 50), 256u);
  EXPECT_EQ(f[54 + 4 * 77 + 1], 77);
}

TEST(BitmapWrite, PaletteTableLengthCoversEveryIndex) {
  Picture p = make_picture(4, 1, 8, kModePalette);
  p.pixels_ = {0, 3, 2, 1};
  p.header_.info_.colours_used_ = 0;  // written as a full table
  EXPECT_EQ(u32_at(encode_bitmap(p), 10), 1078u);
  p.header_.info_.colours_used_ = 4;  // as read: kept
  auto f = encode_bitmap(p);
  EXPECT_EQ(u32_at(f, 10), 54u + 16u);
  EXPECT_EQ(u32_at(f, 46), 4u);
  // An index beyond the stored count would point past the table on file.
  p.pixels_ = {0, 9, 2, 1};
  EXPECT_EQ(u32_at(encode_bitmap(p), 46), 256u);
}

TEST(TargaWrite, GreyAndColourLayouts) {
  const Picture grey = make_picture(3, 2, 8, kModeGrey);
  auto g = encode_targa(grey);
  ASSERT_EQ(g.size(), 18u + 6u);
  EXPECT_EQ(g[2], 3);
  EXPECT_EQ(g[16], 8);
  EXPECT_EQ(g[17], 0);
  // Bottom row first, padding dropped.
  EXPECT_EQ((std::vector<std::uint8_t>(g.begin() + 18, g.end())),
            (std::vector<std::uint8_t>{grey.pixels_[0], grey.pixels_[1], grey.pixels_[2], grey.pixels_[4],
                                       grey.pixels_[5], grey.pixels_[6]}));

  const Picture colour = make_picture(2, 2, 24, kModeColour);
  auto c = encode_targa(colour);
  ASSERT_EQ(c.size(), 18u + 12u);
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(c[2], 2);
  EXPECT_EQ(u16_at(c, 12), 2u);
  EXPECT_EQ(u16_at(c, 14), 2u);
  EXPECT_EQ(c[16], 24);
  EXPECT_TRUE(std::equal(colour.pixels_.begin(), colour.pixels_.begin() + 6, c.begin() + 18));
  EXPECT_TRUE(std::equal(colour.pixels_.begin() + 8, colour.pixels_.begin() + 14, c.begin() + 24));
}

TEST(TargaWrite, PalettePictureBecomesTrueColour) {
  const Picture p = make_picture(3, 2, 8, kModePalette);
  const auto f = encode_targa(p);
  EXPECT_EQ(f[2], 2);
  EXPECT_EQ(f[16], 24);
  Picture back;
  ASSERT_EQ(read_targa(f, back), FileStatus::kOk);
  EXPECT_EQ(back.image_mode_, kModeColour);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t index = p.pixels_[static_cast<std::size_t>(y * 4 + x)];
      const std::uint8_t* px = &back.pixels_[static_cast<std::size_t>(y * 12 + 3 * x)];
      EXPECT_EQ(px[0], index);
      EXPECT_EQ(px[1], 255 - index);
      EXPECT_EQ(px[2], static_cast<std::uint8_t>(index * 7));
    }
  }
}

TEST(PictureRoundTrip, EveryRowPaddingBothDepthsBothFormats) {
  for (int width = 1; width <= 8; ++width) {
    for (std::uint16_t mode : {kModeColour, kModeGrey, kModePalette}) {
      SCOPED_TRACE(::testing::Message() << "width " << width << " mode " << mode);
      const Picture p = make_picture(width, 3, mode == kModeColour ? 24 : 8, mode, static_cast<std::uint8_t>(width));
      Picture b;
      ASSERT_EQ(read_bitmap(encode_bitmap(p), b), FileStatus::kOk);
      EXPECT_EQ(b.image_mode_, mode);
      EXPECT_EQ(b.pixels_, p.pixels_);
      EXPECT_EQ(b.header_.colour_table_, p.header_.colour_table_);
      if (mode == kModePalette) continue;  // expanded to true colour, checked above
      Picture t;
      ASSERT_EQ(read_targa(encode_targa(p), t), FileStatus::kOk);
      EXPECT_EQ(t.image_mode_, mode);
      EXPECT_EQ(t.pixels_, p.pixels_);
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
  Picture a, b;
  ASSERT_EQ(read_bitmap(bmp, a), FileStatus::kOk);
  ASSERT_EQ(read_targa(tga, b), FileStatus::kOk);
  for (const Picture* p : {&a, &b}) {
    EXPECT_EQ(p->pixels_, expected);
    Picture again;
    ASSERT_EQ(read_bitmap(encode_bitmap(*p), again), FileStatus::kOk);
    EXPECT_EQ(again.pixels_, expected);
    ASSERT_EQ(read_targa(encode_targa(*p), again), FileStatus::kOk);
    EXPECT_EQ(again.pixels_, expected);
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
  const Picture p = make_picture(7, 5, 24, kModeColour);
  const std::string bmp = (dir_ / "a.bmp").string();
  const std::string tga = (dir_ / "a.tga").string();
  ASSERT_EQ(save_bitmap_file(bmp, p), FileStatus::kOk);
  ASSERT_EQ(save_targa_file(tga, p), FileStatus::kOk);
  Picture b, t;
  ASSERT_EQ(read_bitmap_file(bmp, b), FileStatus::kOk);
  ASSERT_EQ(read_targa_file(tga, t), FileStatus::kOk);
  EXPECT_EQ(b.pixels_, p.pixels_);
  EXPECT_EQ(t.pixels_, p.pixels_);
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
  std::vector<Picture> bad(5, make_picture(5, 3, 24, kModeColour));
  bad[0].pixels_.resize(bad[0].pixels_.size() - 1);  // buffer shorter than the rows
  bad[1].width_ = 0;
  bad[2].height_ = -3;
  bad[3].bits_per_pixel_ = 8;  // colour mode with an 8-bit depth
  bad[4].image_mode_ = 63;
  for (const Picture& p : bad) {
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

  // Picture files beyond anything the pixel limit allows are not even read.
  std::ofstream(dir_ / "big.bmp", std::ios::binary) << std::string(3u << 20, 'B');
  Picture p;
  EXPECT_EQ(read_bitmap_file((dir_ / "big.bmp").string(), p, ReadLimits{4}), FileStatus::kFileTooLarge);
  EXPECT_EQ(read_bitmap_file((dir_ / "big.bmp").string(), p, ReadLimits{1u << 20}), FileStatus::kNotBitmap);
}
#endif

}  // namespace
}  // namespace varnic::imagefile
