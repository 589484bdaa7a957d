#include "format/format.h"

#include <gtest/gtest.h>

#include <string>

#include "utils/picture_layout.h"

namespace varnic::format {
namespace {

StatusCode check(const std::string& magic) {
  return check_version(std::span(reinterpret_cast<const std::uint8_t*>(magic.data()), magic.size()));
}

TEST(FormatTest, VersionCheckAcceptsOnlyTwoThreeToTwoFive) {
  EXPECT_EQ(check("QVT2.5aZ"), StatusCode::kOk);
  EXPECT_EQ(check("QVT2.4aZ"), StatusCode::kOk);
  EXPECT_EQ(check("QVT2.3xx"), StatusCode::kOk);  // bytes 4, 6 and 7 are not examined
  EXPECT_EQ(check("QVT3.0aZ"), StatusCode::kVersionTooLow);
  EXPECT_EQ(check("QVT1.5aZ"), StatusCode::kVersionTooLow);
  EXPECT_EQ(check("QVT2.2aZ"), StatusCode::kVersionTooLow);
  EXPECT_EQ(check("QVT2.6aZ"), StatusCode::kVersionTooHigh);
  EXPECT_EQ(check("QVX2.5aZ"), StatusCode::kNotCompressedFile);
  EXPECT_EQ(check("QVT2.5a"), StatusCode::kNotCompressedFile);
  // Digits compare as signed bytes: 0xB5 is negative, so "below '3'".
  EXPECT_EQ(check(std::string("QVT2.\xB5" "aZ")), StatusCode::kVersionTooLow);
}

TEST(FormatTest, HeaderLayoutOfEachVersion) {
  // Version 2.5, five levels: the comment length ends the fixed fields at 8 + 338.
  EXPECT_EQ(field_offset(5, 5, HeaderField::kCommentLength) + 2, 8u + 338u);
  EXPECT_EQ(field_offset(5, 5, HeaderField::kImageMode), 34u);
  EXPECT_EQ(field_offset(5, 5, HeaderField::kBandMax), 38u);
  EXPECT_EQ(field_offset(5, 5, HeaderField::kBandMin, Channel::kQ, 15), 38u + 12 * 15 + 10);
  EXPECT_EQ(field_offset(5, 5, HeaderField::kRestartOffset, Channel::kI), 38u + 12 * 16 + 4);
  EXPECT_EQ(field_offset(5, 5, HeaderField::kQuantStep, Channel::kQ, 1), 38u + 12 * 16 + 18 + 6 + 4);
  EXPECT_EQ(field_offset(4, 5, HeaderField::kCommentLength), 0u);  // no comment before 2.5
  // 2-byte offsets move everything after the end offsets by 6, then by 12.
  EXPECT_EQ(field_offset(3, 5, HeaderField::kEndOffset, Channel::kQ), 26u);
  EXPECT_EQ(field_offset(3, 5, HeaderField::kImageMode), 28u);
  EXPECT_EQ(field_offset(3, 5, HeaderField::kBandMax), 32u);
  EXPECT_EQ(field_offset(3, 5, HeaderField::kPixelOffset), field_offset(4, 5, HeaderField::kPixelOffset) - 12);
}

TEST(FormatTest, WrittenHeaderParsesBackWithItsComment) {
  CodecParams p;
  p.total_levels = 2;
  p.image_width = 9;
  p.image_height = 8;
  p.image_mode = kImageModeGrey;
  p.using_mask = -3;
  p.channels[0].dropped_levels = 1;
  p.channels[0].pixel_offset = 128;
  p.channels[0].band_max[6] = -300;
  p.channels[0].quant_vector[6] = 125;
  std::vector<std::uint8_t> file;
  append_header(p, "hi", file);
  file.push_back(1);  // a one-symbol table and no segments: enough for the layout checks
  file.push_back(format::kSymbolBias);
  FileHeader h;
  ASSERT_EQ(parse_header(file, kDefaultPixelLimit, h), StatusCode::kOk);
  EXPECT_EQ(h.comment, "hi");
  EXPECT_EQ(h.data_start, file.size() - 2);
  EXPECT_EQ(h.params.using_mask, -3);
  EXPECT_EQ(h.params.padded_width, 12u);
  EXPECT_EQ(h.params.channels[0].band_max[6], -300);
  EXPECT_EQ(h.params.channels[0].quant_vector[6], 125);
  EXPECT_EQ(h.params.channels[0].dropped_levels, 1);
}

TEST(PictureLayoutTest, RowsArePaddedToFourBytes) {
  const utils::RowGeometry colour5 = utils::row_geometry(5, 3, 24);
  EXPECT_EQ(colour5.row_padding, 1u);
  EXPECT_EQ(colour5.stride, 16u);
  EXPECT_EQ(colour5.picture_bytes, 48u);
  const utils::RowGeometry grey5 = utils::row_geometry(5, 5, 8);
  EXPECT_EQ(grey5.row_padding, 3u);
  EXPECT_EQ(grey5.index_row_padding, 3u);
  EXPECT_EQ(grey5.picture_bytes, 40u);
  EXPECT_EQ(utils::row_geometry(4, 2, 24).row_padding, 0u);
  // The largest side the format allows does not overflow.
  EXPECT_EQ(utils::row_geometry(32767, 32767, 24).picture_bytes, std::size_t{98304} * 32767);
}

TEST(PictureLayoutTest, ElapsedTimeCombinesSecondsAndMilliseconds) {
  EXPECT_FLOAT_EQ(utils::elapsed_seconds({5, 900}, {7, 100}), 1.2f);
  EXPECT_EQ(utils::elapsed_seconds({10, 0}, {10, 250}), 0.25f);
}

}  // namespace
}  // namespace varnic::format
