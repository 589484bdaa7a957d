// SPDX-License-Identifier: BSD-2-Clause
// The format registry: every entry found by kind, extension and content, every writer's round trip
// from either row order, the PNM reader's rules and the bitmap entry's notices. The .cod entry is
// the codec's and the API's to test.
#include "imagefile/registry.h"

#include <gtest/gtest.h>

#include <array>

#include <cstring>
#include <string>
#include <vector>

#include "file_builders.h"
#include "registry_test_util.h"

namespace varnic::imagefile {
namespace {

TEST(RegistryTest, EveryEntryIsFoundByKindExtensionAndContent) {
  for (const FormatEntry& entry : format_table()) {
    SCOPED_TRACE(std::string(entry.name));
    EXPECT_EQ(find_format(entry.kind), &entry);
    for (std::string_view ext : entry.extensions) {
      std::string upper = std::string("dir.v2/picture").append(ext);
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(kind_from_extension(upper), entry.kind) << ext;
    }
    if (!entry.writable()) {  // read only: the photographs' own tests make their files
      Bytes none;
      EXPECT_EQ(write_picture(make_rows_picture(5, 4, false, 1).rows(), entry.kind, {}, none), FileStatus::kUnknownKind);
      continue;
    }
    const Bytes file = write_test_picture(make_rows_picture(5, 4, false, 1), entry.kind);
    ASSERT_FALSE(file.empty());
    // Content wins over the name; a format without a signature needs its name.
    EXPECT_EQ(sniff_kind(file, "x.bin"), entry.sniff != nullptr ? entry.kind : FileKind::kUnknown);
    EXPECT_EQ(sniff_kind(file, std::string("x").append(entry.extensions.front())), entry.kind);
  }
  EXPECT_EQ(kind_from_extension("dir.png/picture"), FileKind::kUnknown);
}

TEST(RegistryTest, EveryPictureWriterRoundTripsGreyAndColourInEitherRowOrder) {
  for (const FormatEntry& entry : format_table()) {
    if (entry.kind == FileKind::kCod || !entry.writable()) continue;  // lossy, or read only
    for (bool grey : {true, false}) {
      for (std::uint32_t width : {1u, 2u, 3u, 4u}) {  // every row padding
        SCOPED_TRACE(::testing::Message() << entry.name << " grey " << grey << " width " << width);
        RowsPicture source = make_rows_picture(width, 3, grey, width);
        LoadedPicture top_down = read_test_picture(write_test_picture(source, entry.kind), entry.kind);
        EXPECT_EQ(top_down_rgb(top_down.picture), source.top_down_rgb);
        EXPECT_TRUE(top_down.notices.empty());
        // The same picture handed over bottom row first, blue first, gives the same file.
        const RowsPicture flipped = to_bottom_up_bgr(source);
        EXPECT_EQ(write_test_picture(flipped, entry.kind), write_test_picture(source, entry.kind));
      }
    }
  }
}

// Every PNG level gives the pixels back; the top level the smallest file, storing the largest.
TEST(RegistryTest, PngLevelsKeepThePixelsAndTradeTimeForSize) {
  for (bool grey : {true, false}) {
    RowsPicture source = make_rows_picture(64, 48, grey, 0);
    // Smooth shading with a little texture, as in a photograph.
    const std::size_t channels = grey ? 1 : 3;
    for (std::size_t i = 0; i < source.pixels.size(); ++i) {
      const std::size_t x = i / channels % 64, y = i / channels / 64;
      source.pixels[i] = static_cast<std::uint8_t>(x + 2 * y + (x * y + i % channels * 40) % 5);
    }
    source.top_down_rgb = source.pixels;
    std::vector<std::size_t> sizes;
    for (int level = kMinPngLevel; level <= kMaxPngLevel; ++level) {
      WriteSettings settings;
      settings.png_level = level;
      Bytes file;
      ASSERT_EQ(write_picture(source.rows(), FileKind::kPng, settings, file), FileStatus::kOk) << level;
      EXPECT_EQ(top_down_rgb(read_test_picture(file, FileKind::kPng).picture), source.top_down_rgb) << level;
      sizes.push_back(file.size());
    }
#ifdef _WIN32
    // The Windows Imaging Component has no compression level: every level writes the same file.
    EXPECT_EQ(sizes[kMaxPngLevel], sizes[kMinPngLevel]);
#else
    EXPECT_LT(sizes[kMaxPngLevel], sizes[kDefaultPngLevel]);
    EXPECT_LT(sizes[kDefaultPngLevel], sizes[kMinPngLevel]);
#endif
  }
}

struct PnmCase {
  const char* text;
  bool grey;
  Bytes top_down_rgb;
  std::size_t notices;
};

TEST(PnmReaderTest, ReadsAsciiAndBinaryWithCommentsAndAnyMaxval) {
  Bytes wide = as_bytes("P5\n2 1\n65535\n");
  for (std::uint8_t b : std::to_array<std::uint8_t>({0xFF, 0xFF, 0x80, 0x00})) wide.push_back(b);
  const std::vector<PnmCase> cases = {
      // 15 -> 255, 7 -> round(7 * 255 / 15) = 119.
      {"P2\n# a comment\n3 1 # more\n15\n15 7\n0\n", true, {255, 119, 0}, 0},
      {"P3 1 2 255 9 8 7 1 2 3", false, {9, 8, 7, 1, 2, 3}, 0},
      {"P6 1 1 255 \x01\x02\x03", false, {1, 2, 3}, 0},
      {"P2 1 1 4095 4095", true, {255}, 1},  // a 12-bit notice
  };
  for (const PnmCase& c : cases) {
    const LoadedPicture p = read_test_picture(as_bytes(c.text), FileKind::kPnm);
    EXPECT_EQ(p.picture.image_mode == format::kImageModeGrey, c.grey) << c.text;
    EXPECT_EQ(top_down_rgb(p.picture), c.top_down_rgb) << c.text;
    EXPECT_EQ(p.notices.size(), c.notices) << c.text;
  }
  // 32768 * 255 / 65535 = 127.5 -> 128.
  EXPECT_EQ(top_down_rgb(read_test_picture(wide, FileKind::kPnm).picture), (Bytes{255, 128}));
}

TEST(PnmReaderTest, RefusesWhatItCannotReadBeforeAllocating) {
  ReadLimits small;
  small.max_pixels = 1000;
  const std::vector<std::pair<const char*, FileStatus>> cases = {
      {"P4\n8 1\n\xff", FileStatus::kPnmKind},
      {"P6\n2 2\n255\nabc", FileStatus::kPnmTruncated},
      {"P5\n2 1\n", FileStatus::kPnmHeader},
      {"P2 2 1 10 5 11", FileStatus::kPnmSample},
      {"P5 0 1 255 ", FileStatus::kPnmEmpty},
      {"P5 1 1 70000 ", FileStatus::kPnmMaxval},
      {"P5 1 1 0 \x01", FileStatus::kPnmMaxval},
      {"P5 99999999999 1 255 ", FileStatus::kPnmHeader},
      // Refused on the header alone; a side beyond what a .cod file holds whatever the limit.
      {"P5 30000 30000 255 ", FileStatus::kPictureTooLarge},
      {"P5 40000 1 255 ", FileStatus::kPictureSides},
  };
  for (const auto& [text, status] : cases) {
    LoadedPicture out;
    EXPECT_EQ(read_picture(as_bytes(text), "x.pnm", small, out), status) << text;
  }
}

TEST(RegistryTest, BitmapEntryNamesADroppedProfile) {
  testing::BmpLayout v5;
  v5.header_size_ = 124;
  v5.width_ = 1;
  v5.height_ = 1;
  v5.rows_ = {{1, 2, 3}};
  Bytes file = v5.build();
  std::memcpy(&file[14 + 56], "DEBM", 4);  // 'MBED' little-endian
  const LoadedPicture profiled = read_test_picture(file, FileKind::kBmp);
  ASSERT_EQ(profiled.notices.size(), 1u);
  EXPECT_NE(profiled.notices[0].find("ICC"), std::string::npos);

}

TEST(RegistryTest, RefusesUnknownContentAndKinds) {
  LoadedPicture out;
  std::string message;
  EXPECT_EQ(read_picture(as_bytes("hello"), "a.txt", {}, out, &message), FileStatus::kUnknownKind);
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(read_picture(as_bytes("BM"), "a.bmp", {}, out), FileStatus::kBitmapTruncated);
  Bytes bytes;
  EXPECT_EQ(write_picture(make_rows_picture(3, 3, true, 0).rows(), FileKind::kUnknown, {}, bytes),
            FileStatus::kUnknownKind);
}

TEST(RegistryTest, PhotographsAreKnownByContentAndRefusedInWordsWhereNotRead) {
  const std::pair<FileKind, Bytes> heads[] = {
      {FileKind::kJpeg, {0xFF, 0xD8, 0xFF, 0xE0, 0, 16}},
      {FileKind::kTiff, {'M', 'M', 0, 42, 0, 0, 0, 8}},
      {FileKind::kWebp, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'E', 'B', 'P'}},
  };
  for (const auto& [kind, head] : heads) {
    SCOPED_TRACE(std::string(find_format(kind)->name));
    EXPECT_EQ(sniff_kind(head, "x.bin"), kind);
    LoadedPicture out;
    std::string message;
    const FileStatus status = read_picture(head, "x.bin", {}, out, &message);
#if defined(_WIN32)
    // The Windows programs carry none of the photograph libraries.
    EXPECT_EQ(status, FileStatus::kFormatNotBuilt);
    EXPECT_NE(message.find(find_format(kind)->name), std::string::npos) << message;
#else
    EXPECT_NE(status, FileStatus::kOk);
    EXPECT_NE(status, FileStatus::kFormatNotBuilt);
#endif
  }
}

}  // namespace
}  // namespace varnic::imagefile
