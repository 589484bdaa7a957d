// SPDX-License-Identifier: BSD-2-Clause
// Coefficient decoding of streams the encoder never writes (end symbols early, no second segment,
// a stream that stops inside a zerotree) and dequantization at its limits.
#include <gtest/gtest.h>

#include "format/arithmetic_coder.h"
#include "test_util.h"

namespace varnic::decoder {
namespace {

constexpr int kEnd = 1000;  // stands for the end symbol in a coded sequence

// One arithmetic-coded segment of `values` (plane values, or kEnd) over a symbol list.
std::vector<std::uint8_t> encode_segment(const std::vector<int>& list, const std::vector<int>& values) {
  std::vector<std::uint8_t> out;
  AdaptiveModel model;
  model.start(static_cast<int>(list.size()));
  ArithmeticEncoder encoder(out);
  encoder.start();
  for (int v : values) {
    const auto rank = std::find(list.begin(), list.end(), v) - list.begin();
    const int symbol = v == kEnd ? model.end_symbol() : model.symbol_of(static_cast<int>(rank));
    encoder.encode(model, symbol);
    if (v != kEnd) model.update(symbol);
  }
  encoder.encode(model, model.end_symbol());
  encoder.finish();
  return out;
}

// The codes of every band dequantized into the plane layout, as the synthesis reads them.
CoefficientPlane coefficients_of(const PlaneCodes& codes, const CodecParams& p) {
  CoefficientPlane plane;
  EXPECT_EQ(plane.allocate(p.padded_width, p.padded_height), StatusCode::kOk);
  const ChannelParams& y = p.channel(Channel::kY);
  auto paint = [&](const CodeBand& band, std::uint32_t y0, std::uint32_t x0, int subband, bool low) {
    const DequantTable table = dequant_table(y, subband, low, false);
    for (std::uint32_t r = 0; r < band.height; ++r)
      for (std::uint32_t c = 0; c < band.width; ++c) plane.at(y0 + r, x0 + c) = table[static_cast<std::uint8_t>(band.row(r)[c])];
  };
  const int levels = p.total_levels;
  paint(codes.low(), 0, 0, low_band_index(levels), true);
  for (int k = 0; k < codes.coded_steps(); ++k) {
    const std::uint32_t h = (p.padded_height >> levels) << k, w = (p.padded_width >> levels) << k;
    paint(codes.band(k, Orientation::kH), 0, w, subband_index(levels - 1 - k, Orientation::kH), false);
    paint(codes.band(k, Orientation::kV), h, 0, subband_index(levels - 1 - k, Orientation::kV), false);
    paint(codes.band(k, Orientation::kD), h, w, subband_index(levels - 1 - k, Orientation::kD), false);
  }
  return plane;
}

TEST(CodesTest, DamagedSegmentsLeaveUnreachedPositionsAndTreesAsTheyWere) {
  struct Paint { std::uint32_t y, x, rows, cols; int value; };
  struct Case { const char* what; int levels; std::vector<int> list, segment1, segment2; bool restart; std::vector<Paint> want; };
  // Grey planes of side 2^(levels+1), every band scaled by 10. Coding order: the low band, then
  // per level from the coarsest the h, v, d bands row by row; the finest level is segment 2. The
  // expected planes are painted in order over zeros.
  const Case cases[] = {
      {"end symbol in the low band ends it and goes on", 1, {0, 1, 2}, {2, kEnd}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, true,
       {{0, 0, 1, 1, 20}, {0, 2, 1, 1, 10}, {3, 3, 1, 1, 20}}},
      {"no second segment", 1, {0, 1}, {1, 1, 1, 1}, std::vector<int>(12, 1), false, {{0, 0, 2, 2, 10}}},
      {"stream ends before the root's tree", 2, {1, 0, -127}, {1, 1, 1, 1, -127, 1, 1, 1}, {}, false,
       {{0, 0, 2, 4, 10}, {0, 2, 1, 1, 0}, {0, 4, 2, 2, kZeroTreeInside}}},
      {"stream ends inside the root's tree", 2, {1, 0, -127}, {1, 1, 1, 1, -127, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {1, kEnd}, true,
       {{0, 0, 4, 4, 10}, {0, 2, 1, 1, 0}, {0, 6, 1, 1, 10}, {1, 4, 1, 2, kZeroTreeInside}}},
  };
  for (const Case& c : cases) {
    FileHeader header;
    header.magic = kCurrentMagic;
    CodecParams& p = header.params;
    p.total_levels = static_cast<std::uint16_t>(c.levels);
    p.image_mode = kImageModeGrey;
    p.image_width = p.image_height = 2u << c.levels;
    compute_padded_size(p);
    ChannelParams& y = p.channel(Channel::kY);
    y.band_max.fill(10);
    y.band_min.fill(-10);
    y.quant_vector.fill(1);
    SymbolTable table;
    table.count = static_cast<int>(c.list.size());
    for (std::size_t j = 0; j < c.list.size(); ++j) table.values[j] = static_cast<std::uint8_t>(c.list[j] + 128);
    // The table, then the segments: the plane starts at the data.
    std::vector<std::uint8_t> data = {static_cast<std::uint8_t>(table.count)};
    data.insert(data.end(), table.values.begin(), table.values.begin() + table.count);
    const auto first = encode_segment(c.list, c.segment1);
    data.insert(data.end(), first.begin(), first.end());
    y.restart_offset = c.restart ? static_cast<std::uint32_t>(data.size()) : 0;
    const auto second = encode_segment(c.list, c.segment2);
    data.insert(data.end(), second.begin(), second.end());
    y.end_offset = static_cast<std::uint32_t>(data.size());
    CoefficientPlane want;
    ASSERT_EQ(want.allocate(p.padded_width, p.padded_height), StatusCode::kOk);
    for (const Paint& paint : c.want) {
      for (std::uint32_t r = paint.y; r < paint.y + paint.rows; ++r) {
        for (std::uint32_t x = paint.x; x < paint.x + paint.cols; ++x) want.at(r, x) = static_cast<std::int16_t>(paint.value);
      }
    }
    SynthesisPlan plan;
    ASSERT_EQ(plan_synthesis(p, c.levels, p.padded_height, p.padded_width, plan), StatusCode::kOk);
    PlaneCodes codes;
    ASSERT_EQ(decode_plane_codes(data, header, Channel::kY, plan, false, codes), StatusCode::kOk);
    EXPECT_EQ(coefficients_of(codes, p).samples(), want.samples()) << c.what;
  }
}

TEST(CodesTest, DequantizationUsesSinglePrecisionMultipliersAndKeepsTheLow16Bits) {
  const struct { int q; std::int16_t max, min, step; int want; } rows[] = {
      {1, 100, -100, 3, 33}, {-1, 100, -100, 3, -33}, {0, 100, -100, 3, 0},
      {3, 100, -100, 3, 99},  // 100/3 in float32 is 33.3333321: three steps give 99.99999
      {4, 50, -20, 10, 20},   {-4, 50, -20, 10, -8},  // positive values use the maximum, negative the minimum
      {7, 100, -100, 0, 0},   {-7, 100, -100, 0, 0},  // a zero step zeroes the band
      {127, 32767, 0, 1, 32641},                      // 4161409 = 63 * 65536 + 32641
      {-128, 0, -32768, 1, 0}, {-3, 0, -16384, 1, 16384},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(dequantize_value(r.q, band_scale(r.max, r.min, r.step)), r.want) << r.q << " in " << r.min << ".." << r.max << " / " << r.step;
  }
}

}  // namespace
}  // namespace varnic::decoder
