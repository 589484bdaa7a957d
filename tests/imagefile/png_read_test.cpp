// SPDX-License-Identifier: BSD-2-Clause
// The PNG entry against files libpng writes directly (every colour type and depth, metadata),
// so that the reader is not only tested on its own output.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <functional>

#include "registry_test_util.h"

namespace varnic::imagefile {
namespace {

// `samples` holds packed rows (big-endian at 16 bits).
Bytes make_png(std::uint32_t width, std::uint32_t height, int colour_type, int depth, const Bytes& samples,
               const std::vector<png_color>& palette = {}, const Bytes& trns = {},
               const std::function<void(png_structp, png_infop)>& extra = {}) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    ADD_FAILURE() << "libpng failed while making a test picture";
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
        o->insert(o->end(), data, data + n);
      },
      [](png_structp) {});
  png_set_IHDR(png, info, width, height, depth, colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!trns.empty()) png_set_tRNS(png, info, trns.data(), static_cast<int>(trns.size()), nullptr);
  if (extra) extra(png, info);
  png_write_info(png, info);
  const std::size_t row_bytes = samples.size() / height;
  for (std::uint32_t y = 0; y < height; ++y) png_write_row(png, samples.data() + y * row_bytes);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct PngCase {
  const char* what;
  Bytes file;
  bool grey;
  Bytes top_down_rgb;
  std::vector<const char*> notices;  // a word of each, in order
};

TEST(PngReaderTest, ConvertsEveryColourTypeAndDepthWithNotices) {
  const std::vector<png_color> colours = {{30, 20, 10}, {60, 50, 40}};
  const std::vector<png_color> greys = {{0, 0, 0}, {90, 90, 90}, {255, 255, 255}};
  const std::vector<png_color> two = {{0, 0, 0}, {40, 80, 120}};
  // A profile libpng accepts: a header for an RGB monitor (version 4, D50 white), no tags.
  Bytes profile(512, 0);
  profile[2] = 2, profile[8] = 4, profile[70] = 0xF6, profile[71] = 0xD6, profile[73] = 1, profile[78] = 0xD3,
  profile[79] = 0x2D;
  std::memcpy(&profile[12], "mntrRGB XYZ ", 12);
  std::memcpy(&profile[36], "acsp", 4);
  const Bytes exif = {'M', 'M', 0, 42};
  const std::vector<PngCase> cases = {
      // 0xFFFF, 0x0000, 0x8080 (exactly 128/255), 0x00C0 (0.75 of a level: 1 rounded, 0 truncated).
      {"16-bit grey", make_png(4, 1, PNG_COLOR_TYPE_GRAY, 16, {0xFF, 0xFF, 0, 0, 0x80, 0x80, 0, 0xC0}), true,
       {255, 0, 128, 1}, {"16-bit"}},
      // The reader skips ancillary chunks it does not use; sBIT must still come through.
      {"12 significant bits", make_png(1, 1, PNG_COLOR_TYPE_GRAY, 16, {0x12, 0x34}, {}, {},
                                       [](png_structp p, png_infop i) {
                                         png_color_8 bits{};
                                         bits.gray = 12;
                                         png_set_sBIT(p, i, &bits);
                                       }),
       true, {18}, {"12-bit"}},
      // (200, 100, 1) at alpha 128 -> 227, 177, 128 (127.5 rounded); opaque kept; transparent becomes white.
      {"alpha", make_png(3, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {200, 100, 1, 128, 10, 20, 30, 255, 10, 20, 30, 0}),
       false, {227, 177, 128, 10, 20, 30, 255, 255, 255}, {"transparency"}},
      {"palette", make_png(2, 1, PNG_COLOR_TYPE_PALETTE, 8, {1, 0}, colours), false, {60, 50, 40, 30, 20, 10},
       {"palette"}},
      // A palette of greys gives a grey picture, like a bitmap with a grey colour table.
      {"grey palette", make_png(3, 1, PNG_COLOR_TYPE_PALETTE, 8, {2, 1, 0}, greys), true, {255, 90, 0}, {}},
      {"transparent entry", make_png(2, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1}, two, {0}), false,
       {255, 255, 255, 40, 80, 120}, {"palette", "transparency"}},
      // 0b10110000: 255 0 255 255 0 0 0 0.
      {"1-bit grey", make_png(8, 1, PNG_COLOR_TYPE_GRAY, 1, {0xB0}), true, {255, 0, 255, 255, 0, 0, 0, 0}, {}},
      {"metadata", make_png(2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6}, {}, {}, [&](png_structp p, png_infop i) {
         png_set_iCCP(p, i, "p", 0, profile.data(), static_cast<png_uint_32>(profile.size()));
         png_set_eXIf_1(p, i, static_cast<png_uint_32>(exif.size()), const_cast<png_bytep>(exif.data()));
       }),
       false, {1, 2, 3, 4, 5, 6}, {"ICC", "EXIF"}},
  };
  for (const PngCase& c : cases) {
    SCOPED_TRACE(c.what);
    const LoadedPicture p = read_test_picture(c.file, FileKind::kPng);
    EXPECT_EQ(p.picture.image_mode == format::kImageModeGrey, c.grey);
    EXPECT_EQ(top_down_rgb(p.picture), c.top_down_rgb);
    ASSERT_EQ(p.notices.size(), c.notices.size());
    for (std::size_t i = 0; i < c.notices.size(); ++i) EXPECT_NE(p.notices[i].find(c.notices[i]), std::string::npos);
  }
}

TEST(PngReaderTest, RefusesDamagedOrOversizedFiles) {
  const Bytes good = make_png(16, 16, PNG_COLOR_TYPE_RGB, 8, Bytes(16 * 16 * 3, 77));
  LoadedPicture out;
  for (std::size_t cut : {std::size_t{20}, std::size_t{40}, good.size() - 13}) {
    const FileStatus s = read_picture(std::span(good.data(), cut), "", {}, out);
    EXPECT_TRUE(s == FileStatus::kPngCorrupt || s == FileStatus::kPngTruncated) << "cut at " << cut;
  }
  Bytes flipped = good;
  flipped[flipped.size() / 2] ^= 0x5A;  // inside the compressed data: CRC or inflate fails
  EXPECT_EQ(read_picture(flipped, "", {}, out), FileStatus::kPngCorrupt);

  ReadLimits small;
  small.max_pixels = 255;
  EXPECT_EQ(read_picture(good, "", small, out), FileStatus::kPictureTooLarge);
}

}  // namespace
}  // namespace varnic::imagefile
