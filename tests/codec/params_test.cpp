// SPDX-License-Identifier: BSD-2-Clause
// Settings: derivation from quality and type, padded sizes, and settings typed in full.
#include "codec/settings.h"

#include <gtest/gtest.h>

#include <functional>

#include "test_picture.h"

namespace varnic::codec {
namespace {

TEST(ParamsTest, DerivedFieldsAtTheQualityBoundariesAndTableRows) {
  enum What { kYDropped, kChromaDropped, kThreshold, kQuantY, kQuantI, kQuantQ };
  struct Row { int quality, type; What what; std::size_t index; int want; };
  // The conformance files pin qualities 0, 10, 40, 50, 70, 90 and 99 whole; these are the edges
  // between them, the rows kept non-monotonic, and the one place the type matters: only "Other"
  // lowers subband 8 of Y, and only at decile 0.
  const Row rows[] = {
      {2, 0, kYDropped, 0, 2},       {3, 0, kYDropped, 0, 1},       {11, 0, kYDropped, 0, 0},      {11, 0, kChromaDropped, 0, 3},
      {25, 0, kChromaDropped, 0, 3}, {26, 0, kChromaDropped, 0, 2}, {51, 0, kChromaDropped, 0, 1}, {75, 0, kChromaDropped, 0, 1},
      {76, 0, kChromaDropped, 0, 0}, {21, 0, kThreshold, 0, 79},    {53, 0, kThreshold, 0, 31},    {54, 0, kThreshold, 0, 32},
      {9, 0, kQuantY, 8, 6},         {5, 0, kQuantY, 8, 6},         {9, 1, kQuantY, 8, 12},        {9, 2, kQuantY, 8, 12},
      {10, 0, kQuantY, 8, 12},
  };
  for (const Row& r : rows) {
    const CodecParams p = Quality(r.quality, r.type);
    EXPECT_EQ(p.channels[1].dropped_levels, p.channels[2].dropped_levels);
    const int got = r.what == kYDropped        ? p.channels[0].dropped_levels
                    : r.what == kChromaDropped ? p.channels[1].dropped_levels
                    : r.what == kThreshold     ? p.threshold_vector[r.index]
                                               : p.channel(static_cast<format::Channel>(r.what - kQuantY)).quant_vector[r.index];
    EXPECT_EQ(got, r.want) << "quality " << r.quality << " type " << r.type << " field " << r.what << "[" << r.index << "]";
  }
  EXPECT_EQ(Quality(9, 0).channels[1].quant_vector, Quality(9, 2).channels[1].quant_vector);
}

TEST(ParamsTest, DerivationWritesOnlyLevelsPlusOneRoundsAndRefusesOutOfRangeQuality) {
  CodecParams p;
  p.total_levels = 2;
  p.quality_factor = 50;
  for (auto& c : p.channels) c.quant_vector.fill(999);
  p.threshold_vector.fill(999);
  ASSERT_EQ(derive_params_from_quality(p), StatusCode::kOk);
  // Entry 3(L+1) - 1 and threshold L are the last written.
  EXPECT_EQ(std::vector<int>({p.channels[0].quant_vector[8], p.channels[0].quant_vector[9], p.threshold_vector[2], p.threshold_vector[3]}),
            std::vector<int>({24, 999, 10, 999}));
  for (const int q : {-1, 100, 120}) {
    CodecParams bad = default_codec_params();
    bad.quality_factor = static_cast<std::int16_t>(q);
    EXPECT_EQ(derive_params_from_quality(bad), StatusCode::kQualityOutOfRange);
    EXPECT_EQ(bad.color_quality, q);
    bad.color_quality = 50;
    bad.quality_factor = 50;
    EXPECT_EQ(SettingsOf(bad), SettingsOf(default_codec_params())) << q;
  }
}

TEST(ParamsTest, PaddedSizeOfATypedInWidthNearTheTopDoesNotWrap) {
  CodecParams p;
  p.image_width = 4294967290u;
  format::compute_padded_size(p);
  EXPECT_GE(p.padded_width, p.image_width);
  EXPECT_GE(p.plane_size, p.padded_width);
}

FullSettings ValidSettings(int levels) {
  FullSettings s;
  s.total_levels = levels;
  for (auto& v : s.quant_vectors) v.assign(3 * static_cast<std::size_t>(levels) + 1, 10);
  s.thresholds.assign(static_cast<std::size_t>(levels) + 1, 5);
  return s;
}

TEST(ParamsTest, ValidatorRefusesEachBadField) {
  using S = FullSettings;
  const struct { std::function<void(S&)> change; StatusCode want; } rows[] = {
      {[](S&) {}, StatusCode::kOk},                                        {[](S& s) { s = ValidSettings(6); }, StatusCode::kOk},
      {[](S& s) { s = ValidSettings(1); }, StatusCode::kOk},               {[](S& s) { s.total_levels = 7; }, StatusCode::kTotalLevelsOutOfRange},
      {[](S& s) { s.total_levels = 0; }, StatusCode::kTotalLevelsOutOfRange}, {[](S& s) { s.quant_vectors[1].pop_back(); }, StatusCode::kQuantVectorBCount},
      {[](S& s) { s.thresholds.push_back(1); }, StatusCode::kThresholdVectorCount},
      {[](S& s) { s.quant_vectors[2][4] = 126; }, StatusCode::kQuantVectorCTooLarge},
      {[](S& s) { s.quant_vectors[2][4] = 125; }, StatusCode::kOk},       {[](S& s) { s.thresholds[1] = 65536; }, StatusCode::kThresholdVectorTooLarge},
      {[](S& s) { s.dropped_levels = {3, 0, 0}; }, StatusCode::kALevelsInvalid}, {[](S& s) { s.dropped_levels = {2, -1, 0}; }, StatusCode::kBLevelsInvalid},
      {[](S& s) { s.dropped_levels = {2, 2, 3}; }, StatusCode::kCLevelsInvalid}, {[](S& s) { s.dropped_levels = {2, 2, 2}; }, StatusCode::kOk},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    FullSettings s = ValidSettings(3);
    rows[i].change(s);
    EXPECT_EQ(validate_full_settings(s), rows[i].want) << "row " << i;
  }
}

TEST(ParamsTest, NumberListsAcceptAnyWhitespaceAndRefuseOtherCharacters) {
  std::vector<std::int64_t> out;
  ASSERT_EQ(parse_number_list(" 20\t10\n\n 5 \r\n7", NumberListField::kQuantVectorA, out), StatusCode::kOk);
  EXPECT_EQ(out, (std::vector<std::int64_t>{20, 10, 5, 7}));
  EXPECT_EQ(parse_number_list("20 10 x", NumberListField::kQuantVectorB, out), StatusCode::kQuantVectorBNotNumbers);
  EXPECT_EQ(parse_number_list("20 1O", NumberListField::kThresholdVector, out), StatusCode::kThresholdVectorNotNumbers);
  EXPECT_EQ(parse_number_list("-5", NumberListField::kQuantVectorC, out), StatusCode::kQuantVectorCNotNumbers);
  // Huge numbers stay huge instead of wrapping into range.
  ASSERT_EQ(parse_number_list("99999999999999999999999", NumberListField::kQuantVectorA, out), StatusCode::kOk);
  EXPECT_GT(out.at(0), 125);
}

TEST(ParamsTest, ApplyStoresAllOrNothing) {
  CodecParams p = default_codec_params();
  FullSettings s = ValidSettings(3);
  s.dropped_levels = {0, 1, 5};
  EXPECT_EQ(apply_full_settings(s, p), StatusCode::kCLevelsInvalid);
  EXPECT_EQ(SettingsOf(p), SettingsOf(default_codec_params()));

  s.dropped_levels = {0, 1, 2};
  s.quant_vectors[0][9] = 77;
  ASSERT_EQ(apply_full_settings(s, p), StatusCode::kOk);
  EXPECT_EQ(std::vector<std::int64_t>({p.total_levels, p.channels[2].dropped_levels, p.channels[0].quant_vector[9], p.threshold_vector[3],
                               p.threshold_vector[4], p.padded_width}),
            std::vector<std::int64_t>({3, 2, 77, 5, 0, 32}));
}

}  // namespace
}  // namespace varnic::codec
