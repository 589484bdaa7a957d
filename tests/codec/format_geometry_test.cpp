#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec/format.h"
#include "codec/picture_geometry.h"

namespace varnic::codec {
namespace {

Status Check(const std::string& magic) {
  return CheckVersion(std::span(reinterpret_cast<const std::uint8_t*>(magic.data()), magic.size()));
}

TEST(FormatTest, VersionCheckAcceptsOnlyTwoThreeToTwoFive) {
  EXPECT_EQ(Check("QVT2.5aZ"), Status::kOk);
  EXPECT_EQ(Check("QVT2.4aZ"), Status::kOk);
  EXPECT_EQ(Check("QVT2.3xx"), Status::kOk);  // bytes 4, 6 and 7 are not examined
  EXPECT_EQ(Check("QVT3.0aZ"), Status::kVersionTooLow);
  EXPECT_EQ(Check("QVT1.5aZ"), Status::kVersionTooLow);
  EXPECT_EQ(Check("QVT2.2aZ"), Status::kVersionTooLow);
  EXPECT_EQ(Check("QVT2.6aZ"), Status::kVersionTooHigh);
  EXPECT_EQ(Check("QVX2.5aZ"), Status::kNotCompressedFile);
  EXPECT_EQ(Check("QVT2.5a"), Status::kNotCompressedFile);
  // Digits compare as signed bytes: 0xB5 is negative, so "below '3'".
  EXPECT_EQ(Check(std::string("QVT2.\xB5" "aZ")), Status::kVersionTooLow);
  EXPECT_STREQ(message(Status::kVersionTooLow), "Incompatible Version(too low)");
  EXPECT_STREQ(message(Status::kVersionTooHigh), "Incompatible Version(too high)");
  EXPECT_STREQ(message(Status::kNotCompressedFile), "It is not a compressed file");
}

TEST(FormatTest, HeaderLayoutOfEachVersion) {
  // Version 2.5, five levels, empty comment: header length 50 + 18 * 16 = 338.
  const HeaderLayout v25 = ComputeHeaderLayout(5, 5);
  EXPECT_EQ(v25.fixed_end - kHeaderLengthBase, 338u);
  EXPECT_EQ(v25.image_mode, 34u);
  EXPECT_EQ(v25.band_limits, 38u);
  EXPECT_EQ(v25.restart_offsets, 38u + 12 * 16);
  EXPECT_EQ(v25.quant_rows, v25.restart_offsets + 18);

  const HeaderLayout v24 = ComputeHeaderLayout(4, 5);
  EXPECT_EQ(v24.comment_length, 0u);
  EXPECT_EQ(v24.fixed_end, v25.fixed_end - 2);

  // 2-byte offsets move everything after the end offsets by 6, then by 12.
  const HeaderLayout v23 = ComputeHeaderLayout(3, 5);
  EXPECT_EQ(v23.image_mode, 28u);
  EXPECT_EQ(v23.total_levels, 30u);
  EXPECT_EQ(v23.band_limits, 32u);
  EXPECT_EQ(v23.fixed_end, v24.fixed_end - 12);
}

TEST(PictureGeometryTest, RowsArePaddedToFourBytes) {
  const RowGeometry colour5 = ComputeRowGeometry(5, 3, 24);
  EXPECT_EQ(colour5.row_padding, 1);
  EXPECT_EQ(colour5.row_bytes, 16u);
  EXPECT_EQ(colour5.picture_bytes, 48u);
  const RowGeometry grey5 = ComputeRowGeometry(5, 5, 8);
  EXPECT_EQ(grey5.row_padding, 3);
  EXPECT_EQ(grey5.index_row_padding, 3);
  EXPECT_EQ(grey5.picture_bytes, 40u);
  const RowGeometry four = ComputeRowGeometry(4, 2, 24);
  EXPECT_EQ(four.row_padding, 0);
  EXPECT_EQ(four.index_row_padding, 0);
  EXPECT_EQ(ComputeRowGeometry(512, 512, 24).picture_bytes, 786432u);
  // The largest side the format allows does not overflow.
  EXPECT_EQ(ComputeRowGeometry(32767, 32767, 24).picture_bytes, std::size_t{98304} * 32767);
}

TEST(PictureGeometryTest, ClampTableEdges) {
  const auto& t = ClampTable();
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1024], 0);
  EXPECT_EQ(t[1025], 1);
  EXPECT_EQ(t[1278], 254);
  EXPECT_EQ(t[1279], 255);
  EXPECT_EQ(t[2047], 255);
  EXPECT_EQ(ClampSample(-5000), 0);
  EXPECT_EQ(ClampSample(200), 200);
  EXPECT_EQ(ClampSample(40000), 255);
}

TEST(PictureGeometryTest, ElapsedTimeCombinesSecondsAndMilliseconds) {
  EXPECT_FLOAT_EQ(ElapsedSeconds({5, 900}, {7, 100}), 1.2f);
  EXPECT_EQ(ElapsedSeconds({10, 0}, {10, 250}), 0.25f);
  EXPECT_EQ(ElapsedSeconds({3, 500}, {3, 500}), 0.0f);
}

}  // namespace
}  // namespace varnic::codec
