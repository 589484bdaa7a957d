// SPDX-License-Identifier: BSD-2-Clause
// Row-by-row synthesis against the whole-plane rules (reference.h) over random coefficients that
// overflow 16 bits in the rules: every size from the boundary rules alone up, dropped levels,
// rows asked for in either order, and plans that keep only a corner; and the refusal of regions
// too small for the rules.
#include <gtest/gtest.h>

#include "reference.h"
#include "test_util.h"

namespace varnic::decoder {
namespace {

TEST(SynthesisTest, RowsEqualTheWholePlaneRulesAtEverySizeInEitherOrderAndInAnyCorner) {
  std::uint32_t x = 12345;
  const struct { std::uint32_t width, height; int levels, dropped; } cases[] = {
      {4, 4, 1, 0}, {6, 4, 1, 0}, {130, 8, 1, 0}, {200, 130, 2, 0}, {264, 66, 3, 1}, {37, 21, 2, 1}, {64, 48, 3, 2}};
  for (const auto& t : cases) {
    CodecParams p;
    p.total_levels = static_cast<std::uint16_t>(t.levels);
    p.image_width = t.width;
    p.image_height = t.height;
    compute_padded_size(p);
    ChannelParams& y = p.channel(Channel::kY);
    y.dropped_levels = t.dropped;
    y.band_max.fill(250);  // q 127 gives 31750: the rules' sums leave 16 bits
    y.band_min.fill(-250);
    y.quant_vector.fill(1);
    CoefficientPlane quantized;
    ASSERT_EQ(quantized.allocate(p.padded_width, p.padded_height), StatusCode::kOk);
    for (std::int16_t& v : quantized.samples()) v = static_cast<std::int16_t>(static_cast<int>((x = x * 1103515245u + 12345u) >> 16) % 253 - 125);
    PlaneCodes codes;
    ASSERT_EQ(codes_from_quantized(quantized, p, Channel::kY, codes), StatusCode::kOk);

    reference::Plane plane{static_cast<int>(p.padded_height), static_cast<int>(p.padded_width), {}};
    for (std::uint32_t r = 0; r < p.padded_height; ++r) {
      for (std::uint32_t c = 0; c < p.padded_width; ++c) {
        // Dropped levels are never read: the upsampling takes their details as zero.
        const int q = quantized.at(r, c);
        plane.v.push_back(dequantize_value(q, band_scale(250, -250, 1)));
      }
    }
    reference::synthesize(plane, p, Channel::kY, t.levels);
    for (const std::uint32_t rows : {p.padded_height, t.height, (t.height + 1) / 2, 1u}) {
      for (const std::uint32_t cols : {p.padded_width, t.width, 3u}) {
        SynthesisPlan plan;
        ASSERT_EQ(plan_synthesis(p, t.levels, rows, cols, plan), StatusCode::kOk);
        for (const bool top_down : {false, true}) {
          const auto got = synthesized_rows(codes, p, Channel::kY, plan, top_down);
          ASSERT_EQ(got.size(), rows);
          for (std::uint32_t r = 0; r < rows; ++r) {
            const std::vector<std::int16_t> want(plane.v.begin() + static_cast<std::ptrdiff_t>(r * p.padded_width),
                                                 plane.v.begin() + static_cast<std::ptrdiff_t>(r * p.padded_width + cols));
            ASSERT_EQ(got[r], want) << t.width << "x" << t.height << " L" << t.levels << ", " << rows << " x " << cols
                                    << " rows, row " << r << (top_down ? " top down" : "");
          }
        }
      }
    }
  }
}

TEST(SynthesisTest, PlansRefuseRegionsTooSmallForTheBoundaryRulesAndOutputsLargerThanTheRegion) {
  const struct { std::uint32_t side; int levels, steps; std::uint32_t rows, cols; bool ok; } cases[] = {
      {8, 2, 2, 8, 8, true}, {8, 3, 3, 8, 8, false}, {8, 2, 1, 4, 4, true}, {8, 2, 1, 5, 4, false},
      {8, 2, 0, 2, 2, true}, {8, 2, 0, 2, 3, false}, {8, 2, 2, 0, 8, false}, {8, 2, 3, 8, 8, false}};
  for (const auto& c : cases) {
    CodecParams p;
    p.total_levels = static_cast<std::uint16_t>(c.levels);
    p.image_width = p.image_height = c.side;
    compute_padded_size(p);
    SynthesisPlan plan;
    EXPECT_EQ(plan_synthesis(p, c.steps, c.rows, c.cols, plan) == StatusCode::kOk, c.ok)
        << c.side << " at " << c.levels << " levels, " << c.steps << " steps, " << c.rows << " x " << c.cols;
  }
}

}  // namespace
}  // namespace varnic::decoder
