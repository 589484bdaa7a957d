// SPDX-License-Identifier: BSD-2-Clause
// Integer synthesis: the strip-by-strip, in-place step against the rules written plainly, over
// random samples that overflow 16 bits, and the refusal of regions too small for the rules.
// (Upsampling of dropped levels is pinned by the conformance files that drop levels.)
#include <gtest/gtest.h>

#include "test_util.h"

namespace varnic::decoder {
namespace {

// The rules once more, plainly: the whole vertical pass into a second buffer, then each row.
std::vector<std::int16_t> plain_step(const std::vector<std::int16_t>& p, int rows, int cols) {
  const auto index = [cols](int r, int c) { return static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c); };
  const int hh = rows / 2, ww = cols / 2;
  std::vector<std::int16_t> t(p.size(), 0), o(p.size(), 0);
  auto set = [&](int r, int c, int v) { t[index(r, c)] = static_cast<std::int16_t>(v); };
  for (int c = 0; c < cols; ++c) {
    auto s = [&](int i) -> int { return p[index(i, c)]; };
    auto d = [&](int i) -> int { return p[index(hh + i, c)]; };
    set(0, c, (2 * s(0) - 7 * d(0) + d(1)) >> 2);
    set(1, c, (d(1) + 2 * s(0) + d(0)) >> 2);
    set(rows - 1, c, (d(hh - 1) + 2 * s(hh - 1)) >> 2);
    set(rows - 2, c, ((s(hh - 2) + s(hh - 1)) >> 2) + ((d(hh - 2) + 2 * d(hh - 1)) >> 3) - d(hh - 1));
    for (int i = 1; i <= hh - 2; ++i) {
      set(2 * i + 1, c, (d(i) + 2 * s(i) + d(i + 1)) >> 2);
      set(2 * i, c, ((t[index(2 * i - 1, c)] + t[index(2 * i + 1, c)]) >> 1) - d(i));
    }
  }
  for (int r = 0; r < rows; ++r) {
    auto s = [&](int j) -> int { return t[index(r, j)]; };
    auto d = [&](int j) -> int { return t[index(r, ww + j)]; };
    auto out = [&](int j) -> std::int16_t& { return o[index(r, j)]; };
    out(1) = static_cast<std::int16_t>(((d(1) + d(0)) >> 1) + s(0));
    out(0) = static_cast<std::int16_t>(((d(1) - d(0)) >> 1) - 3 * d(0) + s(0));
    out(cols - 1) = static_cast<std::int16_t>((d(ww - 1) >> 1) + s(ww - 1));
    out(cols - 2) = static_cast<std::int16_t>(((d(ww - 2) + 2 * (s(ww - 2) - d(ww - 1) + s(ww - 1))) >> 2) - d(ww - 1));
    for (int j = 1; j <= ww - 2; ++j) {
      out(2 * j + 1) = static_cast<std::int16_t>(((d(j) + d(j + 1)) >> 1) + s(j));
      out(2 * j) = static_cast<std::int16_t>(((out(2 * j - 1) + out(2 * j + 1)) >> 1) - 2 * d(j));
    }
  }
  return o;
}

TEST(SynthesisTest, StepsEqualThePlainRulesAtEverySize) {
  // The smallest regions use only the boundary rules; widths around and past the column strips.
  std::uint32_t x = 12345;
  for (const int rows : {4, 6, 8, 130}) {
    for (const int cols : {4, 8, 66, 128, 200, 264}) {
      std::vector<std::int16_t> in(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
      for (std::int16_t& v : in) v = static_cast<std::int16_t>((x = x * 1103515245u + 12345u) >> 16);
      std::vector<std::int16_t> plane = in, work(synthesis_work_size(rows, cols), 0x5a5a);
      synthesis_step(plane.data(), static_cast<std::size_t>(cols), rows, cols, work.data());
      EXPECT_EQ(plane, plain_step(in, rows, cols)) << rows << " x " << cols;
    }
  }
}

TEST(SynthesisTest, LevelsRefuseRegionsTooSmallForTheBoundaryRulesAndPlanesOfAnotherSize) {
  const struct { std::uint32_t width, height; int levels; bool ok; } rows[] = {{8, 8, 3, false}, {8, 8, 2, true}, {16, 8, 2, false}, {8, 16, 2, false}};
  for (const auto& r : rows) {
    CodecParams p;
    p.total_levels = static_cast<std::uint16_t>(r.levels);
    p.image_width = p.image_height = 8;
    compute_padded_size(p);
    CoefficientPlane plane;
    ASSERT_EQ(plane.allocate(r.width, r.height), StatusCode::kOk);
    EXPECT_EQ(synthesize_level(plane, p, Channel::kY, 0) == StatusCode::kOk, r.ok) << r.width << "x" << r.height << " at " << r.levels;
  }
}

}  // namespace
}  // namespace varnic::decoder
