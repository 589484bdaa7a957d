// Integer synthesis: boundary and interior rules worked by hand, arithmetic
// shifts on negative values, 16-bit truncation, and the level schedule.

#include <gtest/gtest.h>

#include <vector>

#include "decoder/decoder.h"

namespace varnic::decoder {
namespace {

using namespace ::varnic::format;

using format::CoefficientPlane;

std::vector<std::int16_t> run_step(std::vector<std::int16_t> plane, int rows, int cols, bool full) {
  std::vector<std::int16_t> work(synthesis_work_size(rows, cols), 0x5a5a);
  if (full) {
    synthesis_step(plane.data(), static_cast<std::size_t>(cols), rows, cols, work.data());
  } else {
    upsample_step(plane.data(), static_cast<std::size_t>(cols), rows, cols, work.data());
  }
  return plane;
}

TEST(SynthesisTest, FourByFourStepUsesOnlyTheBoundaryRules) {
  // Rows 0-1 low half, 2-3 high half; columns likewise.
  const std::vector<std::int16_t> in = {8, 4, 2, 0, 0, 12, 0, -2, 4, 0, 6, 0, 0, -4, 0, 2};
  const std::vector<std::int16_t> want = {32, -8, -4, 1, -2, 6, 3, 1, 0, 0, 9, 5, -1, -1, 4, 4};
  EXPECT_EQ(run_step(in, 4, 4, true), want);
}

TEST(SynthesisTest, VerticalInteriorRuleReadsTheOddRowsAlreadyStored) {
  // Only column 0 is non-zero: s = 10 20 -30 5, d = 3 -5 7 1. The vertical
  // pass gives -2 4 12 10 -9 -13 -7 2 down column 0, and the horizontal pass
  // turns each row's lone low value t into t, t, t >> 1.
  std::vector<std::int16_t> in(64, 0);
  const int column[8] = {10, 20, -30, 5, 3, -5, 7, 1};
  for (int r = 0; r < 8; ++r) in[static_cast<std::size_t>(r) * 8] = static_cast<std::int16_t>(column[r]);
  const auto out = run_step(in, 8, 8, true);
  const int t[8] = {-2, 4, 12, 10, -9, -13, -7, 2};
  for (int r = 0; r < 8; ++r) {
    const std::size_t row = static_cast<std::size_t>(r) * 8;
    EXPECT_EQ(out[row + 0], t[r]) << "row " << r;
    EXPECT_EQ(out[row + 1], t[r]) << "row " << r;
    EXPECT_EQ(out[row + 2], t[r] >> 1) << "row " << r;
    for (int x = 3; x < 8; ++x) EXPECT_EQ(out[row + static_cast<std::size_t>(x)], 0);
  }
}

TEST(SynthesisTest, HorizontalInteriorRuleReadsTheOddColumnsAlreadyStored) {
  // Equal even low rows a and zero high rows halve exactly in the vertical
  // pass, so every row becomes the horizontal synthesis of a / 2 =
  // s 10 -6 4 3, d 7 -3 5 2.
  const std::vector<std::int16_t> a = {20, -12, 8, 6, 14, -6, 10, 4};
  std::vector<std::int16_t> in(32, 0);
  for (int r = 0; r < 2; ++r) std::copy(a.begin(), a.end(), in.begin() + r * 8);
  const auto out = run_step(in, 4, 8, true);
  const std::vector<std::int16_t> row = {-16, 12, 9, -5, -9, 7, 1, 4};
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(std::vector<std::int16_t>(out.begin() + r * 8, out.begin() + r * 8 + 8), row) << r;
  }
}

TEST(SynthesisTest, ResultsAreTruncatedTo16Bits) {
  // s 10000 0, d -15000 0 per row: the left rule gives 7500 + 45000 + 10000
  // = 62500, stored as -3036.
  const std::vector<std::int16_t> a = {20000, 0, -30000, 0};
  std::vector<std::int16_t> in(16, 0);
  for (int r = 0; r < 2; ++r) std::copy(a.begin(), a.end(), in.begin() + r * 4);
  const auto out = run_step(in, 4, 4, true);
  const std::vector<std::int16_t> row = {-3036, 2500, 1250, 0};
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(std::vector<std::int16_t>(out.begin() + r * 4, out.begin() + r * 4 + 4), row) << r;
  }
}

TEST(SynthesisTest, UpsampleIgnoresTheDetailQuarters) {
  std::vector<std::int16_t> in(64, 999);
  for (int r = 0; r < 4; ++r) {
    for (int x = 0; x < 4; ++x) in[static_cast<std::size_t>(r * 8 + x)] = 0;
  }
  const int column[4] = {10, -7, 4, 20};
  for (int r = 0; r < 4; ++r) in[static_cast<std::size_t>(r) * 8] = static_cast<std::int16_t>(column[r]);
  const auto out = run_step(in, 8, 8, false);
  // Vertical: 5 5 0 -4 -1 2 6 10; horizontal: t, t, t >> 1, then zeros.
  const int t[8] = {5, 5, 0, -4, -1, 2, 6, 10};
  for (int r = 0; r < 8; ++r) {
    const std::size_t row = static_cast<std::size_t>(r) * 8;
    EXPECT_EQ(out[row + 0], t[r]) << r;
    EXPECT_EQ(out[row + 1], t[r]) << r;
    EXPECT_EQ(out[row + 2], t[r] >> 1) << r;
    for (int x = 3; x < 8; ++x) EXPECT_EQ(out[row + static_cast<std::size_t>(x)], 0) << r << "," << x;
  }
}

TEST(SynthesisTest, UpsampleRowRules) {
  // Equal even low rows halve exactly: each row upsamples s = 10 -6 4 3.
  const std::vector<std::int16_t> a = {20, -12, 8, 6};
  std::vector<std::int16_t> in(64, -1);
  for (int r = 0; r < 4; ++r) std::copy(a.begin(), a.end(), in.begin() + r * 8);
  const auto out = run_step(in, 8, 8, false);
  const std::vector<std::int16_t> row = {10, 10, 2, -6, -1, 4, 3, 3};
  for (int r = 0; r < 8; ++r) {
    EXPECT_EQ(std::vector<std::int16_t>(out.begin() + r * 8, out.begin() + r * 8 + 8), row) << r;
  }
}

// The rules once more, plainly: whole vertical pass into a second buffer,
// then each row; the oracle for the strip-by-strip, in-place version.
std::vector<std::int16_t> plain_step(const std::vector<std::int16_t>& p, int rows, int cols, bool full) {
  auto at = [&](const std::vector<std::int16_t>& v, int r, int c) -> int {
    return v[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c)];
  };
  auto store = [](int v) { return static_cast<std::int16_t>(v); };
  const int hh = rows / 2;
  const int ww = cols / 2;
  std::vector<std::int16_t> t(p.size(), 0);
  auto set = [&](int r, int c, int v) { t[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c)] = store(v); };
  const int vcols = full ? cols : ww;
  for (int c = 0; c < vcols; ++c) {
    auto sv = [&](int i) { return at(p, i, c); };
    auto dv = [&](int i) { return full ? at(p, hh + i, c) : 0; };
    if (full) {
      set(0, c, (2 * sv(0) - 7 * dv(0) + dv(1)) >> 2);
      set(1, c, (dv(1) + 2 * sv(0) + dv(0)) >> 2);
      set(rows - 1, c, (dv(hh - 1) + 2 * sv(hh - 1)) >> 2);
      set(rows - 2, c, ((sv(hh - 2) + sv(hh - 1)) >> 2) + ((dv(hh - 2) + 2 * dv(hh - 1)) >> 3) - dv(hh - 1));
      for (int i = 1; i <= hh - 2; ++i) {
        set(2 * i + 1, c, (dv(i) + 2 * sv(i) + dv(i + 1)) >> 2);
        set(2 * i, c, ((at(t, 2 * i - 1, c) + at(t, 2 * i + 1, c)) >> 1) - dv(i));
      }
    } else {
      set(0, c, sv(0) >> 1);
      set(1, c, sv(0) >> 1);
      set(rows - 2, c, (sv(hh - 2) + sv(hh - 1)) >> 2);
      set(rows - 1, c, sv(hh - 1) >> 1);
      for (int i = 1; i <= hh - 2; ++i) {
        set(2 * i + 1, c, sv(i) >> 1);
        set(2 * i, c, (sv(i - 1) + sv(i)) >> 2);
      }
    }
  }
  std::vector<std::int16_t> o(p.size(), 0);
  for (int r = 0; r < rows; ++r) {
    auto sv = [&](int j) { return at(t, r, j); };
    auto dv = [&](int j) { return full ? at(t, r, ww + j) : 0; };
    std::int16_t* out = o.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(cols);
    if (full) {
      out[1] = store(((dv(1) + dv(0)) >> 1) + sv(0));
      out[0] = store(((dv(1) - dv(0)) >> 1) - 3 * dv(0) + sv(0));
      out[cols - 1] = store((dv(ww - 1) >> 1) + sv(ww - 1));
      out[cols - 2] = store(((dv(ww - 2) + 2 * (sv(ww - 2) - dv(ww - 1) + sv(ww - 1))) >> 2) - dv(ww - 1));
      for (int j = 1; j <= ww - 2; ++j) {
        out[2 * j + 1] = store(((dv(j) + dv(j + 1)) >> 1) + sv(j));
        out[2 * j] = store(((out[2 * j - 1] + out[2 * j + 1]) >> 1) - 2 * dv(j));
      }
    } else {
      out[0] = out[1] = store(sv(0));
      out[cols - 2] = store((sv(ww - 2) + sv(ww - 1)) >> 1);
      out[cols - 1] = store(sv(ww - 1));
      for (int j = 1; j <= ww - 2; ++j) {
        out[2 * j + 1] = store(sv(j));
        out[2 * j] = store((sv(j - 1) + sv(j)) >> 1);
      }
    }
  }
  return o;
}

TEST(SynthesisTest, WideAndTallStepsEqualThePlainRules) {
  // Widths around and past the column strips, random samples of every size.
  std::uint32_t x = 12345;
  for (const int rows : {4, 6, 130}) {
    for (const int cols : {4, 66, 128, 200, 264}) {
      std::vector<std::int16_t> in(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
      for (std::int16_t& v : in) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::int16_t>(x >> 16);
      }
      for (const bool full : {true, false}) {
        EXPECT_EQ(run_step(in, rows, cols, full), plain_step(in, rows, cols, full))
            << rows << " x " << cols << (full ? " synthesis" : " upsampling");
      }
    }
  }
}

format::CodecParams geometry(std::uint32_t width, std::uint32_t height, int levels, int dropped) {
  format::CodecParams p;
  p.total_levels = static_cast<std::uint16_t>(levels);
  p.image_width = width;
  p.image_height = height;
  format::compute_padded_size(p);
  p.channel(Channel::kY).dropped_levels = dropped;
  return p;
}

TEST(SynthesisTest, ConstantLowBandHalvesAtEveryStepWithArithmeticShift) {
  for (int dropped : {0, 1, 3}) {
    for (int v : {100, -7, 1}) {
      const auto p = geometry(32, 16, 3, dropped);
      CoefficientPlane plane;
      ASSERT_EQ(plane.allocate(p.padded_width, p.padded_height), StatusCode::kOk);
      // Low band 2 x 4 at the origin.
      for (std::uint32_t y = 0; y < 2; ++y) {
        for (std::uint32_t x = 0; x < 4; ++x) plane.at(y, x) = static_cast<std::int16_t>(v);
      }
      ASSERT_EQ(synthesize_plane(plane, p, Channel::kY), StatusCode::kOk);
      const int want = v >> 3;  // 100 -> 12, -7 -> -1, 1 -> 0
      for (std::int16_t s : plane.samples()) ASSERT_EQ(s, want) << "v " << v << " dropped " << dropped;
    }
  }
}

TEST(SynthesisTest, StepsTouchOnlyTheirRegion) {
  const auto p = geometry(16, 16, 2, 0);
  CoefficientPlane plane;
  ASSERT_EQ(plane.allocate(16, 16), StatusCode::kOk);
  for (std::size_t i = 0; i < plane.size(); ++i) plane.samples()[i] = static_cast<std::int16_t>(static_cast<int>(i % 7) - 3);
  const auto before = plane.samples();
  ASSERT_EQ(synthesize_level(plane, p, Channel::kY, 0), StatusCode::kOk);
  for (std::uint32_t y = 0; y < 16; ++y) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      if (y < 8 && x < 8) continue;
      ASSERT_EQ(plane.at(y, x), before[y * 16 + x]) << y << "," << x;
    }
  }
}

TEST(SynthesisTest, DroppedLevelsAreUpsampledWithoutReadingTheirDetails) {
  const auto p = geometry(16, 16, 2, 1);
  CoefficientPlane a, b;
  ASSERT_EQ(a.allocate(16, 16), StatusCode::kOk);
  for (std::size_t i = 0; i < a.size(); ++i) a.samples()[i] = static_cast<std::int16_t>(static_cast<int>((i * 37) % 23) - 11);
  b = a;
  // Level 0 (the dropped one) holds garbage in `a` and zeros in `b`.
  for (std::uint32_t y = 0; y < 16; ++y) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      if (y >= 8 || x >= 8) b.at(y, x) = 0;
    }
  }
  ASSERT_EQ(synthesize_plane(a, p, Channel::kY), StatusCode::kOk);
  ASSERT_EQ(synthesize_plane(b, p, Channel::kY), StatusCode::kOk);
  EXPECT_EQ(a.samples(), b.samples());
}

TEST(SynthesisTest, StepsRefuseRegionsTooSmallForTheBoundaryRules) {
  auto p = geometry(8, 8, 3, 0);  // 8 x 8 at 3 levels: low band 1 x 1
  CoefficientPlane plane;
  ASSERT_EQ(plane.allocate(8, 8), StatusCode::kOk);
  EXPECT_NE(synthesize_level(plane, p, Channel::kY, 0), StatusCode::kOk);
  p = geometry(8, 8, 2, 0);
  EXPECT_EQ(synthesize_level(plane, p, Channel::kY, 0), StatusCode::kOk);
  CoefficientPlane wrong;
  ASSERT_EQ(wrong.allocate(16, 8), StatusCode::kOk);
  EXPECT_NE(synthesize_level(wrong, p, Channel::kY, 0), StatusCode::kOk);
}

}  // namespace
}  // namespace varnic::decoder
