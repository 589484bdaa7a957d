// SPDX-License-Identifier: BSD-2-Clause
// The conversion at its edges (clamps, previews' division), version 2.3's packed rows against the
// sequence of every padded sample, and decodes that are cancelled or refused; the conformance
// files pin the rest.
#include <gtest/gtest.h>

#include "codec/encoder.h"
#include "display/display.h"
#include "fuzz/cod_versions.h"
#include "utils/picture_layout.h"

namespace varnic::display {
namespace {

using namespace ::varnic::format;

TEST(PixelsTest, ExtremeSamplesClampWithoutReadingOutsideTheTables) {
  const std::int16_t y[] = {32767, -32768, 0, -52}, i[] = {-32768, 0, 300, 151}, q[] = {0, 32767, -300, 53};
  // I = 300 is clamped to 255, whose entries are 0; Q = -300 to -256: red +159, green +165, blue -436.
  // The last is pure red through the forward matrix: R = 76 + 144 + 32, G and B below 0.
  std::uint8_t out[12];
  colour_pixels(y, i, q, 4, 0, 128, false, out);
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + 12), (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0, 0, 255, 255, 0, 0, 252}));
  colour_pixels(y, i, q, 4, 0, 128, true, out);
  EXPECT_EQ(out[11], 0);
  EXPECT_EQ(out[9], 252);
  // Previews divide toward zero before the offset: -7 / 4 is -1, not -2.
  const std::int16_t grey[] = {-3 * 4, -7, 127 * 4 + 3, -129 * 4};
  grey_pixels(grey, 4, 2, 128, out);
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4), (std::vector<std::uint8_t>{125, 127, 255, 0}));
  grey_pixels(grey, 1, 1, 128, out);
  EXPECT_EQ(out[0], 122);
}

// A small colour .cod file of `width` x `height` at `levels` levels, as version 2.3.
std::vector<std::uint8_t> version23(std::uint32_t width, std::uint32_t height, int levels) {
  std::vector<std::uint8_t> pixels(utils::row_geometry(width, height, 24).picture_bytes);
  for (std::size_t n = 0; n < pixels.size(); ++n) pixels[n] = static_cast<std::uint8_t>(n * 37 % 251);
  CodecParams settings = codec::default_codec_params();
  settings.total_levels = static_cast<std::uint16_t>(levels);
  settings.quality_factor = 90;
  EXPECT_EQ(codec::derive_params_from_quality(settings), StatusCode::kOk);
  codec::EncodedPicture encoded;
  EXPECT_EQ(codec::encode_picture({pixels.data(), pixels.size(), width, height, 24}, settings, {}, encoded), StatusCode::kOk);
  return fuzz::rewrite_as_version(encoded.stream, 3);
}

TEST(PackedRowsTest, Version23RowsAreCutFromTheSequenceOfEveryPaddedSample) {
  const struct { std::uint32_t width, height; int levels; } cases[] = {{5, 4, 1}, {37, 21, 3}, {10, 9, 2}, {64, 64, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const auto file = version23(c.width, c.height, c.levels);
    // The sequence: every padded sample red first, row after row, as the whole region gives it.
    std::vector<std::uint8_t> sequence;
    DecodeRequest region;
    region.whole_region = true;
    RowSink gather;
    gather.row = [&](std::uint32_t, std::span<const std::uint8_t> bytes) {
      sequence.insert(sequence.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 3 * 3));
      return true;
    };
    ASSERT_EQ(decode_rows(file, kDefaultPixelLimit, region, gather), StatusCode::kOk);
    const utils::RowGeometry g = utils::row_geometry(c.width, c.height, 24);
    sequence.resize(std::max(sequence.size(), g.picture_bytes), 0);  // a larger buffer ends in zeros
    DecodedFile decoded;
    ASSERT_EQ(decode_file(file, kDefaultPixelLimit, {}, decoded), StatusCode::kOk);
    EXPECT_TRUE(std::equal(decoded.picture.pixels.begin(), decoded.picture.pixels.end(), sequence.begin()));
    // Top row first and red first: the same rows with each pixel's bytes swapped.
    DecodeRequest request;
    request.top_down = true;
    request.rgb_order = true;
    int rows = 0;
    RowSink check;
    check.row = [&](std::uint32_t row, std::span<const std::uint8_t> bytes) {
      EXPECT_EQ(row, c.height - 1 - static_cast<std::uint32_t>(rows++));
      for (std::size_t x = 0; x < g.data_bytes; ++x) {
        if (bytes[x] != sequence[g.stride * row + x - x % 3 + 2 - x % 3]) return false;
      }
      return true;
    };
    EXPECT_EQ(decode_rows(file, kDefaultPixelLimit, request, check), StatusCode::kOk);
    EXPECT_EQ(rows, static_cast<int>(c.height));
  }
}

TEST(DecodeTest, CancelledOrRefusedDecodesLeaveTheCallersPicture) {
  const auto file = version23(16, 16, 2);
  FileHeader header;
  decoder::CodeSet codes;
  ASSERT_EQ(decode_coefficients(file, kDefaultPixelLimit, 1, header, codes), StatusCode::kOk);
  DecodedPicture out;
  out.pixels = {1, 2, 3};
  int calls = 0;
  EXPECT_EQ(reconstruct(codes, header.params, header.magic, [&](const PreviewFrame&) { return ++calls < 2; }, out),
            StatusCode::kCancelled);
  EXPECT_EQ(calls, 2);
  RowSink stop;
  stop.row = [](std::uint32_t row, std::span<const std::uint8_t>) { return row < 3; };
  EXPECT_EQ(decode_rows(file, kDefaultPixelLimit, {}, stop), StatusCode::kCancelled);
  DecodeRequest request;
  request.progress = [](DecodeStage stage, std::uint32_t, std::uint32_t) { return stage == DecodeStage::kPlanesDecoded; };
  EXPECT_EQ(decode_rows(file, kDefaultPixelLimit, request, stop), StatusCode::kCancelled);
  request = {};
  request.reduce = 2;  // as many levels as there are: only a preview's whole region stops there
  EXPECT_EQ(decode_codes(codes, header.params, header.magic, request, stop), StatusCode::kReconstructFailed);
  codes[2].release();
  EXPECT_EQ(decode_codes(codes, header.params, header.magic, {}, stop), StatusCode::kReconstructFailed);
  DecodedFile d;
  d.picture = out;
  const std::vector<std::uint8_t> junk = {'Q', 'V', 'T', '2', '.', '5', 'a', 'Z', 0, 0};
  EXPECT_EQ(decode_file(junk, kDefaultPixelLimit, {}, d), StatusCode::kFileTruncated);
  EXPECT_EQ(out.pixels, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(d.picture.pixels, out.pixels);
}

}  // namespace
}  // namespace varnic::display
