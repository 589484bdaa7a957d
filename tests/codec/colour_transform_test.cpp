#include "codec/colour_transform.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnic::codec {
namespace {

struct Yiq {
  int y, i, q;
};

// Runs the picture path on a 1 x 1 picture with offsets 128.
Yiq Convert(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  const std::vector<std::uint8_t> pixel = {b, g, r, 0};
  CoefficientPlane y, i, q;
  EXPECT_EQ(y.Allocate(2, 2), Status::kOk);
  EXPECT_EQ(i.Allocate(2, 2), Status::kOk);
  EXPECT_EQ(q.Allocate(2, 2), Status::kOk);
  RgbToYiq({pixel.data(), pixel.size(), 1, 1, 24}, 128, 128, 128, y, i, q);
  return {y.at(0, 0), i.at(0, 0), q.at(0, 0)};
}

void ExpectYiq(Yiq got, int y, int i, int q) {
  EXPECT_EQ(got.y, y);
  EXPECT_EQ(got.i, i);
  EXPECT_EQ(got.q, q);
}

TEST(ColourTransformTest, PrimariesAndGreysWorkedByHand) {
  ExpectYiq(Convert(255, 255, 255), 127, 0, 0);
  ExpectYiq(Convert(0, 0, 0), -128, 0, 0);
  ExpectYiq(Convert(128, 128, 128), 0, 0, 0);
  // Red: Y = -53042 >> 10, I = 155550 >> 10, Q = 55080 >> 10.
  ExpectYiq(Convert(0, 0, 255), -52, 151, 53);
  // Green: r = b = -128, g = 127: Y = 22183 >> 10, I = -71400 >> 10,
  // Q = -136680 >> 10.
  ExpectYiq(Convert(0, 255, 0), 21, -70, -134);
  // Blue: Y = -101237 >> 10, I = -84150 >> 10, Q = 81600 >> 10.
  ExpectYiq(Convert(255, 0, 0), -99, -83, 79);
}

TEST(ColourTransformTest, ShiftRoundsTowardMinusInfinity) {
  // r - 128 = -1, g and b at the offset: every sum is a small negative
  // number, which floors to -1 rather than truncating to 0.
  ExpectYiq(Convert(128, 128, 127), -1, -1, -1);
  // r = +1: Y = 306 >> 10 = 0, I = 610 >> 10 = 0, Q = 216 >> 10 = 0.
  ExpectYiq(Convert(128, 128, 129), 0, 0, 0);
}

TEST(ColourTransformTest, OddPictureIsPaddedWithZeroColumnsAndRepeatedRows) {
  // 3 x 2 picture, rows of 9 bytes padded to 12; padded planes 4 x 4.
  std::vector<std::uint8_t> buffer(24, 0);
  for (int row = 0; row < 2; ++row) {
    for (int x = 0; x < 3; ++x) {
      std::uint8_t* p = &buffer[12 * row + 3 * x];
      p[0] = p[1] = p[2] = static_cast<std::uint8_t>(140 + 10 * row + x);  // grey: I = Q = 0
    }
  }
  CoefficientPlane y, i, q;
  ASSERT_EQ(y.Allocate(4, 4), Status::kOk);
  ASSERT_EQ(i.Allocate(4, 4), Status::kOk);
  ASSERT_EQ(q.Allocate(4, 4), Status::kOk);
  // Dirty planes show that the padding is written, not inherited.
  std::fill(y.samples_.begin(), y.samples_.end(), std::int16_t{77});
  RgbToYiq({buffer.data(), buffer.size(), 3, 2, 24}, 128, 128, 128, y, i, q);
  // A grey g maps to Y = ((306 + 601 + 117) * (g - 128)) >> 10 = g - 128.
  const std::int16_t expected[4][4] = {
      {12, 13, 14, 0}, {22, 23, 24, 0}, {22, 23, 24, 0}, {22, 23, 24, 0}};
  for (std::uint32_t r = 0; r < 4; ++r) {
    for (std::uint32_t c = 0; c < 4; ++c) EXPECT_EQ(y.at(r, c), expected[r][c]) << r << "," << c;
  }
  for (const auto v : i.samples_) EXPECT_EQ(v, 0);
}

TEST(ColourTransformTest, GreyPathShiftsWithoutRounding) {
  // 5 x 2 grey picture: rows of 5 bytes padded to 8. Padding bytes hold junk
  // that must not be read as pixels.
  std::vector<std::uint8_t> buffer = {0, 1, 127, 128, 255, 9, 9, 9,
                                      200, 100, 50, 25, 12, 9, 9, 9};
  CoefficientPlane y;
  ASSERT_EQ(y.Allocate(8, 4), Status::kOk);
  GreyToY({buffer.data(), buffer.size(), 5, 2, 8}, 128, y);
  const std::int16_t row0[8] = {-128, -127, -1, 0, 127, 0, 0, 0};
  const std::int16_t row1[8] = {72, -28, -78, -103, -116, 0, 0, 0};
  for (std::uint32_t c = 0; c < 8; ++c) {
    EXPECT_EQ(y.at(0, c), row0[c]);
    EXPECT_EQ(y.at(1, c), row1[c]);
    EXPECT_EQ(y.at(2, c), row1[c]);
    EXPECT_EQ(y.at(3, c), row1[c]);
  }
}

}  // namespace
}  // namespace varnic::codec
