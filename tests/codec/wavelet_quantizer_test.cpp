#include <gtest/gtest.h>

#include <vector>

#include "codec/forward_wavelet.h"
#include "test_picture.h"

namespace varnic::codec {
using namespace ::varnic::format;
using namespace ::varnic::utils;
namespace {

// A float plane with its own stride, for driving single levels.
struct FloatPlane {
  std::uint32_t rows, cols;
  std::vector<float> v;
  FloatPlane(std::uint32_t r, std::uint32_t c, float fill = 0.0f)
      : rows(r), cols(c), v(std::size_t{r} * c, fill) {}
  float& at(std::uint32_t r, std::uint32_t c) { return v[std::size_t{r} * cols + c]; }
  void Analyse(std::uint32_t region_rows, std::uint32_t region_cols) {
    std::vector<float> temp(std::size_t{region_rows + 1} * region_cols);
    analyse_level(v.data(), cols, region_rows, region_cols, temp.data());
  }
};

TEST(WaveletTest, ConstantRegionKeepsOnlyTheLowBand) {
  FloatPlane p(8, 8, 10.0f);
  p.Analyse(8, 8);
  for (std::uint32_t r = 0; r < 8; ++r) {
    for (std::uint32_t c = 0; c < 8; ++c) {
      // Vertical DC gain 1, horizontal 2, edges included.
      EXPECT_EQ(p.at(r, c), (r < 4 && c < 4) ? 20.0f : 0.0f) << r << "," << c;
    }
  }
}

TEST(WaveletTest, VerticalRampGoesToTheBottomLeftBand) {
  // x[i] = i down 8 rows: vertical low 0.875, 3, 5, 7 (the first sees the
  // repeated edge: (3 * 1 + 2) * 2 - 3 + 0 = 7, over 8), high 0.25, 0, 0, 0.
  // Rows are constant, so the horizontal pass doubles the lows and gives no
  // horizontal detail.
  FloatPlane p(8, 8);
  for (std::uint32_t r = 0; r < 8; ++r) {
    for (std::uint32_t c = 0; c < 8; ++c) p.at(r, c) = static_cast<float>(r);
  }
  p.Analyse(8, 8);
  const float low[4] = {1.75f, 6.0f, 10.0f, 14.0f};
  const float high[4] = {0.5f, 0.0f, 0.0f, 0.0f};
  for (std::uint32_t r = 0; r < 4; ++r) {
    for (std::uint32_t c = 0; c < 4; ++c) {
      EXPECT_EQ(p.at(r, c), low[r]);
      EXPECT_EQ(p.at(r, c + 4), 0.0f);  // band h
      EXPECT_EQ(p.at(r + 4, c), high[r]);  // band v
      EXPECT_EQ(p.at(r + 4, c + 4), 0.0f);  // band d
    }
  }
}

TEST(WaveletTest, HorizontalRampGoesToTheTopRightBand) {
  // x[j] = j along 8 columns, 4 rows: vertical pass passes columns through;
  // horizontal low (s = 1/4): 7/4, 6, 10, 14; horizontal high (t = 1/2): 0.5,
  // 0, 0, 0.
  FloatPlane p(4, 8);
  for (std::uint32_t r = 0; r < 4; ++r) {
    for (std::uint32_t c = 0; c < 8; ++c) p.at(r, c) = static_cast<float>(c);
  }
  p.Analyse(4, 8);
  const float low[4] = {1.75f, 6.0f, 10.0f, 14.0f};
  const float high[4] = {0.5f, 0.0f, 0.0f, 0.0f};
  for (std::uint32_t c = 0; c < 4; ++c) {
    for (std::uint32_t r = 0; r < 2; ++r) {
      EXPECT_EQ(p.at(r, c), low[c]);
      EXPECT_EQ(p.at(r, c + 4), high[c]);
      EXPECT_EQ(p.at(r + 2, c), 0.0f);
      EXPECT_EQ(p.at(r + 2, c + 4), 0.0f);
    }
  }
}

TEST(WaveletTest, EachLevelUsesItsOwnThreshold) {
  // 8 x 8 horizontal ramp x[c] = c. Level 0: low rows 1.75 6 10 14, band h
  // 0.5 0 0 0. Level 1 on the 4 x 4 low quarter (s = 1/4, t = 1/2):
  // L = (28 * 2 - 14 + 1.75) / 4 = 10.9375 and (98 - 6 + 20) / 4 = 28,
  // H = (6 - 1.75) / 2 = 2.125 and 0.
  CoefficientPlane samples;
  ASSERT_EQ(samples.allocate(8, 8), StatusCode::kOk);
  for (std::uint32_t r = 0; r < 8; ++r) {
    for (std::uint32_t c = 0; c < 8; ++c) samples.at(r, c) = static_cast<std::int16_t>(c);
  }
  const std::uint16_t keep_all[2] = {0, 2};
  std::vector<float> out = transform_to_float(samples, 2, keep_all);
  ASSERT_EQ(out.size(), 64u);
  const float expected_row0[8] = {10.9375f, 28.0f, 2.125f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f};
  // Level 1 leaves rows 0..1 alike; level 0's band h fills rows 0..3 alike.
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 8; ++c) EXPECT_EQ(out[8 * r + c], expected_row0[c]) << r << "," << c;
  }
  for (int r = 2; r < 4; ++r) {
    for (int c = 4; c < 8; ++c) EXPECT_EQ(out[8 * r + c], expected_row0[c]) << r << "," << c;
  }
  for (int i = 32; i < 64; ++i) EXPECT_EQ(out[i], 0.0f) << i;

  // Level 0 clears 0.5 with threshold 1, level 1 clears 2.125 with 3; the
  // low band is never touched.
  const std::uint16_t per_level[2] = {1, 3};
  out = transform_to_float(samples, 2, per_level);
  EXPECT_EQ(out[0], 10.9375f);
  EXPECT_EQ(out[1], 28.0f);
  EXPECT_EQ(out[2], 0.0f);
  EXPECT_EQ(out[4], 0.0f);
}

TEST(WaveletTest, DeadZoneComparesTruncatedMagnitudes) {
  FloatPlane p(4, 4);
  p.at(0, 0) = 3.0f;     // low-low: never thresholded
  p.at(0, 2) = 9.99f;    // h
  p.at(0, 3) = -10.0f;   // h, stays: |trunc| is not below 10
  p.at(2, 0) = -9.5f;    // v
  p.at(3, 3) = 10.5f;    // d
  threshold_level(p.v.data(), 4, 4, 4, 10);
  EXPECT_EQ(p.at(0, 0), 3.0f);
  EXPECT_EQ(p.at(0, 2), 0.0f);
  EXPECT_EQ(p.at(0, 3), -10.0f);
  EXPECT_EQ(p.at(2, 0), 0.0f);
  EXPECT_EQ(p.at(3, 3), 10.5f);
  threshold_level(p.v.data(), 4, 4, 4, 0);  // threshold 0 changes nothing
  EXPECT_EQ(p.at(0, 3), -10.0f);
}

TEST(QuantizerTest, BandGeometryFollowsTheSubbandNumbering) {
  // 64 x 32 plane (width x height), 3 levels.
  BandRect v0 = format::subband_rect(64, 32, 3, 0);
  EXPECT_EQ(v0.row, 16u);
  EXPECT_EQ(v0.col, 0u);
  EXPECT_EQ(v0.rows, 16u);
  EXPECT_EQ(v0.cols, 32u);
  BandRect h1 = format::subband_rect(64, 32, 3, 4);
  EXPECT_EQ(h1.row, 0u);
  EXPECT_EQ(h1.col, 16u);
  EXPECT_EQ(h1.rows, 8u);
  BandRect d2 = format::subband_rect(64, 32, 3, 8);
  EXPECT_EQ(d2.row, 4u);
  EXPECT_EQ(d2.col, 8u);
  BandRect low = format::subband_rect(64, 32, 3, 9);
  EXPECT_EQ(low.row, 0u);
  EXPECT_EQ(low.col, 0u);
  EXPECT_EQ(low.rows, 4u);
  EXPECT_EQ(low.cols, 8u);
}

TEST(QuantizerTest, BandLimitsAreTruncatedExtremes) {
  std::int16_t max = 0, min = 0;
  const float mixed[4] = {10.7f, -3.2f, 0.4f, 2.0f};
  measure_band(mixed, 2, {0, 0, 2, 2}, max, min);
  EXPECT_EQ(max, 10);
  EXPECT_EQ(min, -3);
  const float negative[2] = {-5.5f, -2.2f};
  measure_band(negative, 2, {0, 0, 1, 2}, max, min);
  EXPECT_EQ(max, -2);
  EXPECT_EQ(min, -5);
  const float tiny[2] = {0.9f, -0.6f};
  measure_band(tiny, 2, {0, 0, 1, 2}, max, min);
  EXPECT_EQ(max, 0);
  EXPECT_EQ(min, 0);
}

// Quantizes one value in a 1 x 1 band with the given limits and step.
int QuantizeOne(float f, std::int16_t band_max, std::int16_t band_min, std::uint16_t step) {
  CoefficientPlane out;
  EXPECT_EQ(out.allocate(1, 1), StatusCode::kOk);
  out.at(0, 0) = 55;
  quantize_band(out, &f, band_max, band_min, {0, 0, 1, 1}, step);
  return out.at(0, 0);
}

TEST(QuantizerTest, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(QuantizeOne(5.0f, 200, -100, 40), 1);    // 5 * 0.2 + 0.5 = 1.5
  EXPECT_EQ(QuantizeOne(2.4f, 200, -100, 40), 0);    // 0.98
  EXPECT_EQ(QuantizeOne(-2.5f, 200, -100, 40), -1);  // -1.0 - 0.5
  EXPECT_EQ(QuantizeOne(2.0f, 4, -4, 1), 1);         // exactly one half
  EXPECT_EQ(QuantizeOne(-2.0f, 4, -4, 1), -1);
  EXPECT_EQ(QuantizeOne(10.7f, 10, -10, 100), 107);  // can exceed the step
  EXPECT_EQ(QuantizeOne(0.0f, 10, -10, 100), 0);
  EXPECT_EQ(QuantizeOne(-0.0f, 10, -10, 100), 0);
}

TEST(QuantizerTest, ZeroStepOrZeroLimitGivesZero) {
  EXPECT_EQ(QuantizeOne(50.0f, 60, -60, 0), 0);
  EXPECT_EQ(QuantizeOne(0.8f, 0, -5, 100), 0);   // positive side has M = 0
  EXPECT_EQ(QuantizeOne(-0.8f, 5, 0, 100), 0);   // negative side has m = 0
}

TEST(QuantizerTest, ClampsClearOfTheMarkers) {
  // Largest value 1.9 gives M = 1, so 1.9 scales to 237.5 + 0.5.
  EXPECT_EQ(QuantizeOne(1.9f, 1, -1, 125), 127);
  EXPECT_EQ(QuantizeOne(-1.9f, 1, -1, 125), -125);
  EXPECT_EQ(QuantizeOne(-1.0f, 1, -1, 125), -125);
  EXPECT_EQ(QuantizeOne(-1.0f, 1, -1, 124), -124);
}

TEST(QuantizerTest, ChannelRecordsLimitsOfEveryBand) {
  // 8 x 8 plane, 1 level: low band 4 x 4 top-left, h top-right, v
  // bottom-left, d bottom-right.
  CoefficientPlane out;
  ASSERT_EQ(out.allocate(8, 8), StatusCode::kOk);
  std::vector<float> f(64, 0.0f);
  f[0] = 50.5f;           // low band max
  f[1] = -20.25f;         // low band min
  f[6] = 8.0f;            // h: row 0, column 6
  f[5 * 8 + 1] = -4.0f;   // v: row 5, column 1
  f[7 * 8 + 7] = 0.5f;    // d: below 1, so its max is 0
  ChannelParams channel;
  channel.quant_vector[0] = 10;  // v
  channel.quant_vector[1] = 10;  // h
  channel.quant_vector[2] = 10;  // d
  channel.quant_vector[3] = 100; // low
  quantize_channel(out, f.data(), 1, channel);
  EXPECT_EQ(channel.band_max[3], 50);
  EXPECT_EQ(channel.band_min[3], -20);
  EXPECT_EQ(channel.band_max[1], 8);
  EXPECT_EQ(channel.band_min[1], 0);
  EXPECT_EQ(channel.band_max[0], 0);
  EXPECT_EQ(channel.band_min[0], -4);
  EXPECT_EQ(channel.band_max[2], 0);
  EXPECT_EQ(out.at(0, 0), 101);   // 50.5 * 2 + 0.5 = 101.5
  EXPECT_EQ(out.at(0, 1), -101);  // -20.25 * 5 - 0.5 = -101.75
  EXPECT_EQ(out.at(0, 6), 10);
  EXPECT_EQ(out.at(5, 1), -10);
  EXPECT_EQ(out.at(7, 7), 0);
}

}  // namespace
}  // namespace varnic::codec
