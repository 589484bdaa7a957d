// Header parsing and validation: layout facts of real files, the three
// versions, and refusal of every field outside the format's limits.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "decoder/decoder.h"
#include "test_util.h"

namespace varnic::decoder {
namespace {

using namespace ::varnic::format;

using test::load_u16;
using test::load_u32;
using test::read_cod;
using test::store_u16;
using test::store_u32;

StatusCode parse(const std::vector<std::uint8_t>& file, FileHeader& header,
             std::uint64_t max_pixels = kDefaultPixelLimit) {
  return format::parse_header(file, max_pixels, header);
}

TEST(HeaderTest, FiveLevelsWithEmptyCommentPutYDataAt346) {
  const auto file = read_cod("astronaut_q50");
  FileHeader h;
  ASSERT_EQ(parse(file, h), StatusCode::kOk);
  EXPECT_EQ(h.params.total_levels, 5);
  EXPECT_EQ(h.header_length, 338);  // 50 + 18 * 16
  EXPECT_EQ(h.data_start, 346u);
  EXPECT_TRUE(h.comment.empty());
  EXPECT_EQ(h.params.image_width, 256u);
  EXPECT_EQ(h.params.image_height, 192u);
  EXPECT_EQ(h.params.padded_height, 192u);
  EXPECT_EQ(h.params.plane_size, 256u * 192u);
  EXPECT_EQ(h.params.channel(Channel::kQ).end_offset, file.size());
  EXPECT_EQ(h.params.channel(Channel::kY).pixel_offset, 128);
  // Quality 50: chrominance drops two levels, luminance none.
  EXPECT_EQ(h.params.channel(Channel::kY).dropped_levels, 0);
  EXPECT_EQ(h.params.channel(Channel::kI).dropped_levels, 2);
  EXPECT_EQ(h.minor_version(), 5);
  EXPECT_TRUE(h.has_coefficients());
}

TEST(HeaderTest, GreyFileHoldsOnlyTheYPlane) {
  const auto file = read_cod("tiny_9x5_g_q30");
  FileHeader h;
  ASSERT_EQ(parse(file, h), StatusCode::kOk);
  EXPECT_FALSE(h.is_colour());
  EXPECT_EQ(h.params.channel(Channel::kY).end_offset, file.size());
  EXPECT_EQ(h.params.channel(Channel::kI).end_offset, 0u);
  EXPECT_EQ(h.params.channel(Channel::kQ).restart_offset, 0u);
  // 9 x 5 codes with two levels: both sides exceed 4.
  EXPECT_EQ(h.params.total_levels, 2);
  EXPECT_EQ(h.params.padded_width, 12u);
  EXPECT_EQ(h.params.padded_height, 8u);
}

TEST(HeaderTest, CommentIsReadFromVersion25) {
  const auto file = read_cod("astronaut_comment");
  FileHeader h;
  ASSERT_EQ(parse(file, h), StatusCode::kOk);
  EXPECT_EQ(h.comment, "conformance");
  EXPECT_EQ(h.header_length, 338 + 11);
}

TEST(HeaderTest, OlderVersionsCarryNoCommentAndNarrowerOffsets) {
  FileHeader v25, v24, v23;
  ASSERT_EQ(parse(read_cod("astronaut_comment"), v25), StatusCode::kOk);
  ASSERT_EQ(parse(read_cod("astronaut_comment_v24"), v24), StatusCode::kOk);
  ASSERT_EQ(parse(read_cod("astronaut_comment_v23"), v23), StatusCode::kOk);
  EXPECT_TRUE(v24.comment.empty());
  EXPECT_TRUE(v23.comment.empty());
  EXPECT_EQ(v24.minor_version(), 4);
  EXPECT_EQ(v23.minor_version(), 3);
  // Same planes: the Y data move up by the comment (13 bytes), and by 12
  // more in 2.3 where the six offsets are two bytes each.
  EXPECT_EQ(v24.data_start, v25.data_start - 13);
  EXPECT_EQ(v23.data_start, v25.data_start - 25);
  for (Channel c : {Channel::kY, Channel::kI, Channel::kQ}) {
    const auto& a = v25.params.channel(c);
    const auto& b = v23.params.channel(c);
    EXPECT_EQ(b.end_offset, a.end_offset - 25);
    EXPECT_EQ(b.restart_offset, a.restart_offset - 25);
    EXPECT_EQ(b.band_max, a.band_max);
    EXPECT_EQ(b.band_min, a.band_min);
    EXPECT_EQ(b.quant_vector, a.quant_vector);
    EXPECT_EQ(b.pixel_offset, a.pixel_offset);
    EXPECT_EQ(b.dropped_levels, a.dropped_levels);
  }
}

TEST(HeaderTest, RewritingHelperMatchesTheConformanceFiles) {
  // The rewritten streams of the other tests are only as good as this helper.
  const auto v25 = read_cod("astronaut_comment");
  EXPECT_EQ(test::rewrite_as_older(v25, 4), read_cod("astronaut_comment_v24"));
  auto v23 = read_cod("astronaut_comment_v23");
  EXPECT_EQ(test::rewrite_as_older(v25, 3), v23);
}

TEST(HeaderTest, ZeroHeaderLengthTakesTheDataRightAfterTheFields) {
  auto file = read_cod("astronaut_comment");
  store_u16(file, 14, 0);
  FileHeader h;
  ASSERT_EQ(parse(file, h), StatusCode::kOk);
  EXPECT_EQ(h.data_start, 346u + 11);

  auto v23 = read_cod("astronaut_comment_v23");
  const std::size_t start = 8 + load_u16(v23, 14);
  store_u16(v23, 14, 0);
  ASSERT_EQ(parse(v23, h), StatusCode::kOk);
  EXPECT_EQ(h.data_start, start);
}

TEST(HeaderTest, VersionCheckGivesTheThreeRefusals) {
  auto with = [](const char* magic) {
    auto file = read_cod("tiny_9x5_g_q30");
    std::memcpy(file.data(), magic, 8);
    FileHeader h;
    return parse(file, h);
  };
  EXPECT_EQ(with("QVT2.4aZ"), StatusCode::kOk);
  EXPECT_EQ(with("QVT3.0aZ"), StatusCode::kVersionTooLow);
  EXPECT_EQ(with("QVT2.2aZ"), StatusCode::kVersionTooLow);
  EXPECT_EQ(with("QVT1.5aZ"), StatusCode::kVersionTooLow);
  EXPECT_EQ(with("QVT3.9aZ"), StatusCode::kVersionTooLow);
  EXPECT_EQ(with("QVT2.6aZ"), StatusCode::kVersionTooHigh);
  EXPECT_EQ(with("QVT2\x2e\xb5" "aZ"), StatusCode::kVersionTooLow);  // signed digits
  EXPECT_EQ(with("QVS2.5aZ"), StatusCode::kNotCompressedFile);
  EXPECT_EQ(with("qvt2.5aZ"), StatusCode::kNotCompressedFile);
  FileHeader h;
  const std::vector<std::uint8_t> short_file = {'Q', 'V', 'T', '2', '.', '5', 'a'};
  EXPECT_EQ(parse(short_file, h), StatusCode::kNotCompressedFile);
  EXPECT_EQ(std::string(format::message(StatusCode::kVersionTooLow)), "Incompatible Version(too low)");
  EXPECT_EQ(std::string(format::message(StatusCode::kVersionTooHigh)), "Incompatible Version(too high)");
  EXPECT_EQ(std::string(format::message(StatusCode::kNotCompressedFile)), "It is not a compressed file");
}

// Each field set to values outside the format's limits gives its own refusal.
TEST(HeaderTest, FieldsOutsideTheirLimitsAreRefusedByName) {
  const auto base = read_cod("astronaut_q50");
  auto refuse = [&](auto mutate) {
    auto file = base;
    mutate(file);
    FileHeader h;
    h.comment = "untouched";
    const StatusCode s = parse(file, h);
    EXPECT_EQ(h.comment, "untouched") << "header written on failure";
    return s;
  };
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 36, 0); }), StatusCode::kFileBadTotalLevels);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 36, 11); }), StatusCode::kFileBadTotalLevels);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 36, 0xffff); }), StatusCode::kFileBadTotalLevels);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 34, 622); }), StatusCode::kFileBadImageMode);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 34, 0); }), StatusCode::kFileBadImageMode);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 16, 0); }), StatusCode::kFileBadWidth);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 16, 0x8000); }), StatusCode::kFileBadWidth);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 18, 0xffff); }), StatusCode::kFileBadHeight);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 8, 5); }), StatusCode::kFileBadDroppedLevels);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 10, 0xffff); }), StatusCode::kFileBadDroppedLevels);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 12, 0x7fff); }), StatusCode::kFileBadDroppedLevels);
  // 256 x 192 pads to 256 x 256 at 8 levels, below the 512 that 8 levels
  // need. (Eight levels have 9 more subband rows; zeros make room for them.)
  EXPECT_EQ(refuse([](auto& f) {
              f.insert(f.begin() + 346, 18 * 9, 0);
              store_u16(f, 36, 8);
            }),
            StatusCode::kFilePaddedTooSmall);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 344, 2048); }), StatusCode::kFileCommentTooLong);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 344, 0xffff); }), StatusCode::kFileCommentTooLong);
  // Offsets outside the file, or before the data they follow.
  const std::size_t restart_at = 38 + 12 * 16;
  EXPECT_EQ(refuse([](auto& f) { store_u32(f, 22, 0xffffffff); }), StatusCode::kFileBadOffset);
  EXPECT_EQ(refuse([](auto& f) { store_u32(f, 22, 0); }), StatusCode::kFileBadOffset);
  EXPECT_EQ(refuse([](auto& f) { store_u32(f, 26, 100); }), StatusCode::kFileBadOffset);
  EXPECT_EQ(refuse([&](auto& f) { store_u32(f, 30, static_cast<std::uint32_t>(f.size() + 1)); }),
            StatusCode::kFileBadOffset);
  EXPECT_EQ(refuse([&](auto& f) { store_u32(f, restart_at, 347); }), StatusCode::kFileBadOffset);
  EXPECT_EQ(refuse([&](auto& f) { store_u32(f, restart_at + 4, load_u32(f, 26) + 1); }),
            StatusCode::kFileBadOffset);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 14, 100); }), StatusCode::kFileBadOffset);
  EXPECT_EQ(refuse([](auto& f) { store_u16(f, 14, 0xffff); }), StatusCode::kFileBadOffset);
  // A symbol count of 0 in any coded plane.
  EXPECT_EQ(refuse([](auto& f) { f[346] = 0; }), StatusCode::kFileZeroSymbols);
  EXPECT_EQ(refuse([&](auto& f) { f[load_u32(f, 26)] = 0; }), StatusCode::kFileZeroSymbols);
  // A header cut inside the band rows.
  EXPECT_EQ(refuse([](auto& f) { f.resize(100); }), StatusCode::kFileTruncated);
  EXPECT_EQ(refuse([](auto& f) { f.resize(37); }), StatusCode::kFileTruncated);
}

TEST(HeaderTest, RestartOffsetZeroIsAccepted) {
  auto file = read_cod("astronaut_q50");
  store_u32(file, 38 + 12 * 16, 0);
  FileHeader h;
  EXPECT_EQ(parse(file, h), StatusCode::kOk);
}

TEST(HeaderTest, PixelLimitIsCheckedBeforeAnythingElseIsNeeded) {
  const auto file = read_cod("astronaut_q50");
  FileHeader h;
  EXPECT_EQ(parse(file, h, 256 * 192), StatusCode::kOk);
  EXPECT_EQ(parse(file, h, 256 * 192 - 1), StatusCode::kFilePictureTooLarge);
  // A 60-byte file declaring the largest picture is refused by the default.
  std::vector<std::uint8_t> tiny(file.begin(), file.begin() + 60);
  store_u16(tiny, 16, 32767);
  store_u16(tiny, 18, 32767);
  store_u16(tiny, 36, 1);
  store_u16(tiny, 10, 0);
  store_u16(tiny, 12, 0);
  tiny.resize(38 + 12 * 4 + 18 + 6 * 4 + 2, 0);
  store_u16(tiny, 14, 0);
  EXPECT_EQ(parse(tiny, h), StatusCode::kFilePictureTooLarge);
}

TEST(HeaderTest, FileWithoutTheCodedFlagSkipsTheDataChecks) {
  auto file = read_cod("astronaut_comment_noZ");
  FileHeader h;
  ASSERT_EQ(parse(file, h), StatusCode::kOk);
  EXPECT_FALSE(h.has_coefficients());
  // Its data are never read, so broken tables or offsets do not matter.
  file[346 + 11] = 0;
  store_u32(file, 22, 0xffffff);
  EXPECT_EQ(parse(file, h), StatusCode::kOk);
}

TEST(HeaderTest, GreyFileIgnoresTheMeaninglessChrominanceFields) {
  auto file = read_cod("tiny_9x5_g_q30");
  store_u16(file, 10, 0x7fff);       // I dropped levels
  store_u32(file, 26, 0xffffffff);   // I end offset
  FileHeader h;
  EXPECT_EQ(parse(file, h), StatusCode::kOk);
}

TEST(HeaderTest, PlaneHeaderReadsTheSymbolTable) {
  const auto file = read_cod("tiny_9x5_g_q30");
  FileHeader h;
  ASSERT_EQ(parse(file, h), StatusCode::kOk);
  SymbolTable table;
  std::size_t position = 0;
  ASSERT_EQ(format::read_symbol_table(file, format::plane_start(h, Channel::kY), table, position), StatusCode::kOk);
  ASSERT_EQ(table.count, file[h.data_start]);
  EXPECT_EQ(position, h.data_start + 1 + table.count);
  EXPECT_EQ(table.values[0], file[h.data_start + 1]);
}

}  // namespace
}  // namespace varnic::decoder

namespace varnic::decoder {
namespace {

TEST(HeaderSettingsTest, OpeningOverwritesOnlyWhatTheFileCarries) {
  FileHeader h;
  ASSERT_EQ(format::parse_header(test::read_cod("astronaut_L3_drop"), kDefaultPixelLimit, h), StatusCode::kOk);
  format::CodecParams settings;
  settings.quality_factor = 77;
  settings.threshold_vector[0] = 123;
  settings.channel(Channel::kQ).quant_vector[10] = 55;  // past 3 * 3 + 1 entries
  settings.channel(Channel::kY).mask_factor[0] = 9;
  apply_file_settings(h, settings);
  EXPECT_EQ(settings.total_levels, 3);
  EXPECT_EQ(settings.image_width, 256u);
  EXPECT_EQ(settings.padded_height, 192u);
  EXPECT_EQ(settings.channel(Channel::kY).dropped_levels, 1);
  EXPECT_EQ(settings.channel(Channel::kQ).dropped_levels, 2);
  EXPECT_EQ(settings.channel(Channel::kI).quant_vector[9], h.params.channel(Channel::kI).quant_vector[9]);
  EXPECT_EQ(settings.channel(Channel::kQ).end_offset, 7034u);
  EXPECT_EQ(settings.quality_factor, 77);
  EXPECT_EQ(settings.threshold_vector[0], 123);
  EXPECT_EQ(settings.channel(Channel::kQ).quant_vector[10], 55);
  EXPECT_EQ(settings.channel(Channel::kY).mask_factor[0], 9);
}

}  // namespace
}  // namespace varnic::decoder
