#include "codec/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace varnic::codec {
using namespace ::varnic::format;

namespace {

CodecParams Derived(int quality, int type = 0, int levels = 5) {
  CodecParams p;
  p.total_levels = static_cast<std::uint16_t>(levels);
  p.quality_factor = static_cast<std::int16_t>(quality);
  p.image_type = static_cast<std::int16_t>(type);
  EXPECT_EQ(derive_params_from_quality(p), StatusCode::kOk) << "quality " << quality;
  return p;
}

struct Dropped {
  int y, chroma;
};
Dropped DroppedAt(int quality) {
  const CodecParams p = Derived(quality);
  EXPECT_EQ(p.channels[1].dropped_levels, p.channels[2].dropped_levels);
  return {p.channels[0].dropped_levels, p.channels[1].dropped_levels};
}

TEST(ParamsTest, StartUpValues) {
  const CodecParams p = default_codec_params();
  EXPECT_EQ(p.padded_width, 32u);
  EXPECT_EQ(p.padded_height, 32u);
  EXPECT_EQ(p.plane_size, 1024u);
  EXPECT_EQ(p.channels[0].dropped_levels, 0);
  EXPECT_EQ(p.channels[1].dropped_levels, 2);
  EXPECT_EQ(p.channels[2].dropped_levels, 2);
  const std::uint16_t thresholds[] = {33, 23, 10, 10, 5, 5};
  for (int l = 0; l < 6; ++l) EXPECT_EQ(p.threshold_vector[l], thresholds[l]) << l;
  // Decile 5: Y uses the row starting 6 6 0 12 12 6, I and Q the one with 12 at k = 8.
  EXPECT_EQ(p.channels[0].quant_vector[2], 0);
  EXPECT_EQ(p.channels[0].quant_vector[5], 6);
  EXPECT_EQ(p.channels[0].quant_vector[15], 50);
  EXPECT_EQ(p.channels[1].quant_vector[8], 12);
  EXPECT_EQ(p.channels[2].quant_vector[9], 24);
  EXPECT_EQ(p.color_quality, 50);
}

TEST(ParamsTest, DroppedLevelsChangeAtTheQualityBoundaries) {
  EXPECT_EQ(DroppedAt(2).y, 2);
  EXPECT_EQ(DroppedAt(3).y, 1);
  EXPECT_EQ(DroppedAt(10).y, 1);
  EXPECT_EQ(DroppedAt(11).y, 0);
  EXPECT_EQ(DroppedAt(10).chroma, 4);
  EXPECT_EQ(DroppedAt(11).chroma, 3);
  EXPECT_EQ(DroppedAt(25).chroma, 3);
  EXPECT_EQ(DroppedAt(26).chroma, 2);
  EXPECT_EQ(DroppedAt(50).chroma, 2);
  EXPECT_EQ(DroppedAt(51).chroma, 1);
  EXPECT_EQ(DroppedAt(75).chroma, 1);
  EXPECT_EQ(DroppedAt(76).chroma, 0);
  EXPECT_EQ(DroppedAt(0).y, 2);
  EXPECT_EQ(DroppedAt(0).chroma, 4);
  EXPECT_EQ(DroppedAt(99).y, 0);
  EXPECT_EQ(DroppedAt(99).chroma, 0);
}

TEST(ParamsTest, ExtremeQualitiesUseTheirTableRows) {
  const CodecParams top = Derived(99);
  for (int l = 0; l <= 5; ++l) EXPECT_EQ(top.threshold_vector[l], 0);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < 18; ++k) EXPECT_EQ(top.channels[c].quant_vector[k], 100);
  }
  const CodecParams bottom = Derived(0);
  EXPECT_EQ(bottom.threshold_vector[0], 200);
  EXPECT_EQ(bottom.threshold_vector[1], 180);
  EXPECT_EQ(bottom.threshold_vector[2], 150);
  // Non-monotonic rows are kept as they stand.
  EXPECT_EQ(Derived(21).threshold_vector[0], 79);
  EXPECT_EQ(Derived(54).threshold_vector[0], 32);
  EXPECT_EQ(Derived(53).threshold_vector[0], 31);
}

TEST(ParamsTest, OnlyOtherTypeLowersSubbandEightAtDecileZero) {
  EXPECT_EQ(Derived(9, 0).channels[0].quant_vector[8], 6);
  EXPECT_EQ(Derived(5, 0).channels[0].quant_vector[8], 6);
  EXPECT_EQ(Derived(9, 1).channels[0].quant_vector[8], 12);
  EXPECT_EQ(Derived(9, 2).channels[0].quant_vector[8], 12);
  EXPECT_EQ(Derived(10, 0).channels[0].quant_vector[8], 12);
  // Chrominance rows do not depend on the type.
  EXPECT_EQ(Derived(9, 0).channels[1].quant_vector, Derived(9, 2).channels[1].quant_vector);
}

TEST(ParamsTest, DerivationWritesOneRoundMoreThanTheLevels) {
  CodecParams p;
  p.total_levels = 2;
  p.quality_factor = 50;
  for (auto& c : p.channels) c.quant_vector.fill(999);
  p.threshold_vector.fill(999);
  ASSERT_EQ(derive_params_from_quality(p), StatusCode::kOk);
  EXPECT_EQ(p.channels[0].quant_vector[8], 24);   // 3(L+1) - 1
  EXPECT_EQ(p.channels[0].quant_vector[9], 999);  // beyond: untouched
  EXPECT_EQ(p.threshold_vector[2], 10);
  EXPECT_EQ(p.threshold_vector[3], 999);
}

TEST(ParamsTest, OutOfRangeQualityChangesOnlyColourQuality) {
  for (const int q : {-1, 100, 120}) {
    CodecParams p = default_codec_params();
    const CodecParams before = p;
    p.quality_factor = static_cast<std::int16_t>(q);
    EXPECT_EQ(derive_params_from_quality(p), StatusCode::kQualityOutOfRange);
    EXPECT_STREQ(message(StatusCode::kQualityOutOfRange), "Quality factor is out of range!");
    EXPECT_EQ(p.color_quality, q);
    EXPECT_EQ(p.threshold_vector, before.threshold_vector);
    EXPECT_EQ(p.channels[1].dropped_levels, before.channels[1].dropped_levels);
    EXPECT_EQ(p.channels[0].quant_vector, before.channels[0].quant_vector);
  }
}

TEST(ParamsTest, PaddedSizeRoundsUpToWholeLevels) {
  CodecParams p;
  p.total_levels = 5;
  p.image_width = 33;
  p.image_height = 64;
  format::compute_padded_size(p);
  EXPECT_EQ(p.padded_width, 64u);
  EXPECT_EQ(p.padded_height, 64u);
  EXPECT_EQ(p.plane_size, 4096u);
  p.total_levels = 2;
  p.image_width = 3;
  p.image_height = 1;
  format::compute_padded_size(p);
  EXPECT_EQ(p.padded_width, 4u);
  EXPECT_EQ(p.padded_height, 4u);
  // A typed-in width near the top of the range must not wrap to a small plane.
  p.total_levels = 5;
  p.image_width = 4294967290u;
  format::compute_padded_size(p);
  EXPECT_GE(p.padded_width, p.image_width);
  EXPECT_GE(p.plane_size, p.padded_width);
}

FullSettings ValidSettings(int levels) {
  FullSettings s;
  s.total_levels = levels;
  for (auto& v : s.quant_vectors) v.assign(3 * levels + 1, 10);
  s.thresholds.assign(levels + 1, 5);
  return s;
}

TEST(ParamsTest, ValidatorRefusesEachBadFieldWithItsMessage) {
  EXPECT_EQ(validate_full_settings(ValidSettings(6)), StatusCode::kOk);
  EXPECT_EQ(validate_full_settings(ValidSettings(1)), StatusCode::kOk);

  FullSettings s = ValidSettings(3);
  s.total_levels = 7;
  EXPECT_EQ(validate_full_settings(s), StatusCode::kTotalLevelsOutOfRange);
  s.total_levels = 0;
  EXPECT_EQ(validate_full_settings(s), StatusCode::kTotalLevelsOutOfRange);

  s = ValidSettings(3);
  s.quant_vectors[1].pop_back();  // a short list would zero the low band
  EXPECT_EQ(validate_full_settings(s), StatusCode::kQuantVectorBCount);
  s = ValidSettings(3);
  s.thresholds.push_back(1);
  EXPECT_EQ(validate_full_settings(s), StatusCode::kThresholdVectorCount);

  s = ValidSettings(3);
  s.quant_vectors[2][4] = 126;
  EXPECT_EQ(validate_full_settings(s), StatusCode::kQuantVectorCTooLarge);
  s.quant_vectors[2][4] = 125;
  EXPECT_EQ(validate_full_settings(s), StatusCode::kOk);

  s.dropped_levels = {3, 0, 0};
  EXPECT_EQ(validate_full_settings(s), StatusCode::kALevelsInvalid);
  EXPECT_STREQ(message(StatusCode::kALevelsInvalid),
               "A_levels must be  zero and less than Total Levels!!!");
  s.dropped_levels = {2, -1, 0};
  EXPECT_EQ(validate_full_settings(s), StatusCode::kBLevelsInvalid);
  s.dropped_levels = {2, 2, 3};
  EXPECT_EQ(validate_full_settings(s), StatusCode::kCLevelsInvalid);
  s.dropped_levels = {2, 2, 2};
  EXPECT_EQ(validate_full_settings(s), StatusCode::kOk);
}

TEST(ParamsTest, NumberListsAcceptAnyWhitespaceAndRefuseOtherCharacters) {
  std::vector<std::int64_t> out;
  ASSERT_EQ(parse_number_list(" 20\t10\n\n 5 \r\n7", NumberListField::kQuantVectorA, out),
            StatusCode::kOk);
  EXPECT_EQ(out, (std::vector<std::int64_t>{20, 10, 5, 7}));
  EXPECT_EQ(parse_number_list("20 10 x", NumberListField::kQuantVectorB, out),
            StatusCode::kQuantVectorBNotNumbers);
  EXPECT_EQ(parse_number_list("20 1O", NumberListField::kThresholdVector, out),
            StatusCode::kThresholdVectorNotNumbers);
  EXPECT_EQ(parse_number_list("-5", NumberListField::kQuantVectorC, out),
            StatusCode::kQuantVectorCNotNumbers);
  ASSERT_EQ(parse_number_list("", NumberListField::kQuantVectorA, out), StatusCode::kOk);
  EXPECT_TRUE(out.empty());
  // Huge numbers stay huge instead of wrapping into range.
  ASSERT_EQ(parse_number_list("99999999999999999999999", NumberListField::kQuantVectorA, out),
            StatusCode::kOk);
  EXPECT_GT(out.at(0), 125);
}

TEST(ParamsTest, ApplyStoresAllOrNothing) {
  CodecParams p = default_codec_params();
  const CodecParams before = p;
  FullSettings s = ValidSettings(3);
  s.dropped_levels = {0, 1, 5};
  EXPECT_EQ(apply_full_settings(s, p), StatusCode::kCLevelsInvalid);
  EXPECT_EQ(p.total_levels, before.total_levels);
  EXPECT_EQ(p.channels[1].dropped_levels, before.channels[1].dropped_levels);
  EXPECT_EQ(p.channels[0].quant_vector, before.channels[0].quant_vector);

  s.dropped_levels = {0, 1, 2};
  s.quant_vectors[0][9] = 77;
  ASSERT_EQ(apply_full_settings(s, p), StatusCode::kOk);
  EXPECT_EQ(p.total_levels, 3);
  EXPECT_EQ(p.channels[2].dropped_levels, 2);
  EXPECT_EQ(p.channels[0].quant_vector[9], 77);
  EXPECT_EQ(p.threshold_vector[3], 5);
  EXPECT_EQ(p.threshold_vector[4], 0);
  EXPECT_EQ(p.padded_width, 32u);  // 32 is already a multiple of 8
}

}  // namespace
}  // namespace varnic::codec
