// SPDX-License-Identifier: BSD-2-Clause
// Every reader against damaged copies of small valid files: each byte set in turn to a few
// boundary values, and every truncation. Each variant must give a clean refusal or a
// self-consistent picture, and a refusal must leave the caller's previous picture as it was.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "imagefile/registry.h"
#include "fuzz/cod_versions.h"
#include "fuzz/sample_pictures.h"
#include "fuzz/imagefile_checks.h"
#include "varnic/varnic.h"

namespace {

namespace imf = varnic::imagefile;
namespace format = varnic::format;
using Bytes = std::vector<std::uint8_t>;

// Small enough that a forged side cannot make a variant slow, large enough for every valid file.
constexpr std::uint64_t kPixelLimit = std::uint64_t{1} << 20;
constexpr std::array<std::uint8_t, 6> kBoundaryValues = {0x00, 0xFF, 0x01, 0x7F, 0x80, 0xFE};

using varnic::fuzz::make_file_picture;
using varnic::fuzz::make_picture;

// Calls `check` with every truncation of `good` and every single-byte substitution, naming the
// variant so that a failure can be reproduced.
void for_each_variant(const Bytes& good, const std::function<void(const Bytes&, bool, const std::string&)>& check) {
  for (std::size_t n = 0; n < good.size(); ++n) {
    check(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)), true,
          "truncated to " + std::to_string(n) + " bytes");
  }
  Bytes bad = good;
  for (std::size_t i = 0; i < good.size(); ++i) {
    for (const std::uint8_t v : kBoundaryValues) {
      if (v == good[i]) continue;
      bad[i] = v;
      check(bad, false, "byte " + std::to_string(i) + " set to " + std::to_string(v));
    }
    bad[i] = good[i];
  }
}

bool file_fault(imf::FileStatus s) {
  return s != imf::FileStatus::kOk && s != imf::FileStatus::kOutOfMemory &&
         s != imf::FileStatus::kCannotOpen && s != imf::FileStatus::kCannotWrite;
}

bool same_picture(const imf::PictureBuffer& a, const imf::PictureBuffer& b) {
  return a.width == b.width && a.height == b.height && a.image_mode == b.image_mode &&
         a.pixels == b.pixels && a.header.colour_table == b.header.colour_table;
}

using ImageReader = imf::FileStatus (*)(std::span<const std::uint8_t>, imf::PictureBuffer&, const imf::ReadLimits&);

// `truncation_refused_below`: every truncation shorter than this must be refused (the pixel data
// then end before the picture does).
void check_image_reader(ImageReader read, const Bytes& good, std::size_t truncation_refused_below) {
  const imf::ReadLimits limits{kPixelLimit};
  const imf::PictureBuffer previous = make_file_picture(3, 2, format::kImageModeColour);
  {
    imf::PictureBuffer p = previous;
    ASSERT_EQ(read(good, p, limits), imf::FileStatus::kOk) << "the undamaged file must read";
  }
  int accepted = 0;
  int refused = 0;
  for_each_variant(good, [&](const Bytes& bytes, bool truncated, const std::string& what) {
    imf::PictureBuffer p = previous;
    const imf::FileStatus status = read(bytes, p, limits);
    if (status == imf::FileStatus::kOk) {
      ++accepted;
      EXPECT_FALSE(truncated && bytes.size() < truncation_refused_below) << what << ": a short file was accepted";
      const char* fault = varnic::fuzz::picture_fault(p, kPixelLimit);
      EXPECT_EQ(fault, nullptr) << what << ": " << (fault ? fault : "");
    } else {
      ++refused;
      EXPECT_TRUE(file_fault(status)) << what << ": status " << static_cast<int>(status);
      EXPECT_STRNE(imf::status_message(status), "") << what;
      EXPECT_TRUE(same_picture(p, previous)) << what << ": a refusal changed the caller's picture";
    }
  });
  // Both outcomes must occur, or the variants never reached the reader's checks.
  EXPECT_GT(accepted, 0);
  EXPECT_GT(refused, 0);
}

TEST(HostileFileTest, BitmapsOfEveryDepthRefuseOrReadCleanly) {
  for (const std::uint16_t mode : {format::kImageModeColour, format::kImageModeGrey, format::kImageModePalette}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const imf::PictureBuffer picture = make_file_picture(5, 3, mode);  // odd width: every row padded
    const Bytes file = imf::encode_bitmap(picture);
    // The last row's padding is the only part a reader might do without.
    check_image_reader(imf::read_bitmap, file, file.size() - picture.geometry().row_padding);
  }
}

TEST(HostileFileTest, TargaFilesRefuseOrReadCleanly) {
  for (const std::uint16_t mode : {format::kImageModeColour, format::kImageModeGrey}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const imf::PictureBuffer picture = make_file_picture(5, 3, mode);
    const Bytes file = imf::encode_targa(picture);
    const std::size_t pixel_end =
        imf::kTargaHeaderBytes + static_cast<std::size_t>(picture.width * picture.height * picture.bits_per_pixel / 8);
    check_image_reader(imf::read_targa, file, pixel_end);
  }
}

TEST(HostileFileTest, TopDownTargaRefusesOrReadsCleanly) {
  // The same picture stored from the top (descriptor bit 5) takes the reader's other row order.
  const imf::PictureBuffer picture = make_file_picture(5, 3, format::kImageModeColour);
  Bytes file = imf::encode_targa(picture);
  const std::size_t row = 15;
  Bytes flipped = file;
  for (std::size_t y = 0; y < 3; ++y)
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(imf::kTargaHeaderBytes + (2 - y) * row), row,
                flipped.begin() + static_cast<std::ptrdiff_t>(imf::kTargaHeaderBytes + y * row));
  flipped[17] |= 0x20;
  imf::PictureBuffer read_back;
  ASSERT_EQ(imf::read_targa(flipped, read_back), imf::FileStatus::kOk);
  ASSERT_TRUE(varnic::fuzz::same_rows(read_back, picture)) << "the top-down file is the same picture";
  check_image_reader(imf::read_targa, flipped, imf::kTargaHeaderBytes + 3 * row);
}

// --- .cod files -------------------------------------------------------------------------------

bool cod_fault(varnic::Status s) {
  return s == varnic::Status::kNotCompressedFile || s == varnic::Status::kVersionTooLow ||
         s == varnic::Status::kVersionTooHigh || s == varnic::Status::kInvalidFile ||
         s == varnic::Status::kLimitExceeded;
}

Bytes encode_small(varnic::PixelFormat format, const std::string& comment) {
  const varnic::Picture picture = make_picture(11, 9, format);
  varnic::EncodeOptions options;
  options.quality = 60;
  options.levels = 2;
  options.comment = comment;
  auto encoded = varnic::encode(picture.view(), options);
  EXPECT_TRUE(encoded.ok()) << encoded.message();
  return encoded.ok() ? encoded.value().bytes : Bytes{};
}

void check_cod_reader(const Bytes& good) {
  varnic::DecodeOptions options;
  options.limits.max_pixels = kPixelLimit;
  const auto reference = varnic::decode(good, options);
  ASSERT_TRUE(reference.ok()) << "the undamaged file must decode: " << reference.message();

  // The loader of the desktop program (version check, spare bytes) keeps the caller's file on refusal.
  imf::CompressedFile previous;
  previous.bytes.assign(20, 0x5A);
  previous.file_size = 10;

  int decoded_count = 0;
  for_each_variant(good, [&](const Bytes& bytes, bool truncated, const std::string& what) {
    const auto probed = varnic::probe(bytes, options.limits);
    const auto decoded = varnic::decode(bytes, options);
    if (decoded.ok()) {
      ++decoded_count;
      // The last plane ends at the end of the file, so a file cut short is always refused.
      EXPECT_FALSE(truncated) << what << ": a truncated file decoded";
      const varnic::Picture& p = decoded.value().picture;
      EXPECT_TRUE(p.width >= 1 && p.height >= 1 && std::uint64_t{p.width} * p.height <= kPixelLimit) << what;
      EXPECT_EQ(p.pixels.size(), p.stride() * p.height) << what;
      EXPECT_TRUE(probed.ok()) << what << ": decodes but does not probe";
    } else {
      EXPECT_TRUE(cod_fault(decoded.status())) << what << ": " << varnic::to_string(decoded.status());
      EXPECT_FALSE(decoded.message().empty()) << what;
    }
    if (!probed.ok()) {
      EXPECT_TRUE(cod_fault(probed.status())) << what << ": " << varnic::to_string(probed.status());
    }

    imf::CompressedFile file = previous;
    const imf::FileStatus loaded = imf::load_compressed(bytes, file);
    if (loaded == imf::FileStatus::kOk) {
      EXPECT_EQ(file.file_size, bytes.size()) << what;
      EXPECT_EQ(file.bytes.size(), bytes.size() + format::kSpareBytes) << what;
    } else {
      EXPECT_TRUE(file.bytes == previous.bytes && file.file_size == previous.file_size)
          << what << ": a refused load changed the caller's file";
    }
  });
  // Most substitutions hit coded data or unexamined fields, which still give a picture.
  EXPECT_GT(decoded_count, 0);
}

TEST(HostileFileTest, CompressedColourFilesOfEveryVersionRefuseOrDecodeCleanly) {
  const Bytes v25 = encode_small(varnic::PixelFormat::kRgb24, "hi");
  ASSERT_FALSE(v25.empty());
  for (const int minor : {5, 4, 3}) {
    SCOPED_TRACE("version 2." + std::to_string(minor));
    check_cod_reader(minor == 5 ? v25 : varnic::fuzz::rewrite_as_version(v25, minor));
  }
}

TEST(HostileFileTest, CompressedGreyFileRefusesOrDecodesCleanly) {
  const Bytes grey = encode_small(varnic::PixelFormat::kGrey8, "");
  ASSERT_FALSE(grey.empty());
  check_cod_reader(grey);
}

TEST(HostileFileTest, OlderVersionRewritesDecodeToTheSamePlanes) {
  // Guards rewrite_as_version itself: a rewrite that moved an offset wrongly would make the whole
  // version 2.3 and 2.4 runs above test refusals only.
  const Bytes v25 = encode_small(varnic::PixelFormat::kGrey8, "a comment");
  ASSERT_FALSE(v25.empty());
  const auto a = varnic::decode(v25);
  ASSERT_TRUE(a.ok()) << a.message();
  for (const int minor : {4, 3}) {
    const auto b = varnic::decode(varnic::fuzz::rewrite_as_version(v25, minor));
    ASSERT_TRUE(b.ok()) << "2." << minor << ": " << b.message();
    EXPECT_EQ(b.value().info.version_minor, minor);
    EXPECT_EQ(b.value().info.comment, "");
    EXPECT_EQ(b.value().picture.pixels, a.value().picture.pixels) << "2." << minor;
  }
}

// --- the registry's PNG and PNM readers ---------------------------------------------------------

void check_registry_reader(varnic::FileKind kind, const Bytes& good, bool truncation_refused) {
  const varnic::imagefile::FormatEntry& entry = *varnic::imagefile::find_format(kind);
  const varnic::imagefile::ReadLimits limits{kPixelLimit};
  auto read = [&](const Bytes& bytes, varnic::imagefile::LoadedPicture& out) {
    std::string message;
    return entry.read(bytes, limits, out, message);
  };
  varnic::imagefile::LoadedPicture loaded;
  ASSERT_EQ(read(good, loaded), varnic::imagefile::FileStatus::kOk) << "the undamaged file must read";
  for_each_variant(good, [&](const Bytes& bytes, bool truncated, const std::string& what) {
    const varnic::imagefile::FileStatus status = read(bytes, loaded);
    if (status == varnic::imagefile::FileStatus::kOk) {
      EXPECT_FALSE(truncated && truncation_refused) << what << ": a truncated file was accepted";
      if (const char* fault = varnic::fuzz::picture_fault(loaded.picture, kPixelLimit)) ADD_FAILURE() << what << ": " << fault;
    } else {
      EXPECT_NE(status, varnic::imagefile::FileStatus::kOutOfMemory) << what;
    }
  });
}

TEST(HostileFileTest, PngAndPnmInputsRefuseOrReadCleanly) {
  for (const auto format : {varnic::PixelFormat::kRgb24, varnic::PixelFormat::kGrey8}) {
    const varnic::Picture picture = make_picture(5, 3, format);
    const auto png = varnic::write_picture(picture.view(), varnic::FileKind::kPng);
    const auto pnm = varnic::write_picture(picture.view(), varnic::FileKind::kPnm);
    ASSERT_TRUE(png.ok() && pnm.ok());
    // libpng may finish before the closing chunk, so a truncation need not be refused; binary
    // PNM samples run to the last byte, so every truncation loses some.
    check_registry_reader(varnic::FileKind::kPng, png.value(), false);
    check_registry_reader(varnic::FileKind::kPnm, pnm.value(), true);
  }
}

}  // namespace
